#include "window/ErrorBox.h"

#include <QMessageBox>

namespace window {

void ErrorBox::show(const QString& caption, const QString& text)
{
    // No parent: the box also comes up while the window is hidden or not yet shown.
    QMessageBox::critical(nullptr, caption, text, QMessageBox::Ok);
}

} // namespace window
