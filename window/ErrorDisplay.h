#pragma once

#include <QString>

#include <exception>
#include <optional>

namespace window {

class ErrorBox;

// Appends "." when the message is not empty and its last character's code is above that of
// "." (46): a letter, digit or "?" gets one; ".", ")", "!" or a line break does not.
QString withFinalDot(const QString& message);

// The text that the error display shows for a failure; none for the silent EAbort. Of a
// nested chain the innermost non-empty message wins.
std::optional<QString> errorDisplayText(const std::exception_ptr& failure);

// The failure's class name as the operator sees it (EIdCouldNotBindSocket).
QString failureClassName(const std::exception& failure);

// The last-chance report of a failed start: "Exception %s in module %s at %p." CR LF, the
// message with the final dot, CR LF.
QString startupFailureText(const std::exception& failure, const QString& moduleName);
inline const QString startupFailureCaption = QStringLiteral("Application Error");

// Shows a failure of the window's thread in the box, captioned with the application title.
void showErrorDisplay(ErrorBox& box, const QString& title, const std::exception_ptr& failure);

} // namespace window
