#pragma once

#include <QString>

#include <vector>

class QMessageBox;

namespace window {

// The modal error box: error icon, one OK button. The program shows it; tests derive from it
// to record what would have been shown.
class ErrorBox
{
public:
    virtual ~ErrorBox() = default;
    virtual void show(const QString& caption, const QString& text);
    // Closes every open box, as its OK button would, and shows none from now on: a stop
    // request does not wait for the operator.
    virtual void dismiss();

private:
    std::vector<QMessageBox*> m_open;
    bool m_dismissed = false;
};

} // namespace window
