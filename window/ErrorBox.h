#pragma once

#include <QString>

namespace window {

// The modal error box: error icon, one OK button. The program shows it; tests derive from it
// to record what would have been shown.
class ErrorBox
{
public:
    virtual ~ErrorBox() = default;
    virtual void show(const QString& caption, const QString& text);
};

} // namespace window
