#include "window/ErrorBox.h"

#include <QMessageBox>

namespace window {

void ErrorBox::show(const QString& caption, const QString& text)
{
    if (m_dismissed) {
        return;
    }
    // No parent: the box also comes up while the window is hidden or not yet shown.
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
    m_open.push_back(&box);
    box.exec();
    m_open.pop_back();
}

void ErrorBox::dismiss()
{
    m_dismissed = true;
    for (QMessageBox* box : m_open) {
        box->done(QMessageBox::Ok);
    }
}

} // namespace window
