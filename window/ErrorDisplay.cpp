#include "window/ErrorDisplay.h"

#include "gateway/base/Errors.h"
#include "window/ErrorBox.h"

#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace window {

namespace {

// The message of the innermost failure of a nested chain that has a non-empty one.
QString innermostMessage(const std::exception& failure)
{
    QString message = QString::fromUtf8(failure.what());
    try {
        std::rethrow_if_nested(failure);
    } catch (const std::exception& inner) {
        QString innerMessage = innermostMessage(inner);
        if (!innerMessage.isEmpty()) {
            message = innerMessage;
        }
    } catch (...) {
    }
    return message;
}

} // namespace

QString withFinalDot(const QString& message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.') {
        return message + QLatin1Char('.');
    }
    return message;
}

std::optional<QString> errorDisplayText(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const gateway::EAbort&) {
        return std::nullopt;
    } catch (const std::exception& error) {
        return withFinalDot(innermostMessage(error));
    } catch (...) {
        return withFinalDot(QStringLiteral("Unknown failure"));
    }
}

QString failureClassName(const std::exception& failure)
{
    if (const auto* known = dynamic_cast<const gateway::Exception*>(&failure)) {
        return QString::fromLatin1(known->className());
    }
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(typeid(failure).name(), nullptr, nullptr, &status), &std::free);
    return QString::fromLatin1(status == 0 ? demangled.get() : typeid(failure).name());
}

QString startupFailureText(const std::exception& failure, const QString& moduleName)
{
    // The failure object's own address tells one failure from another in a report.
    const auto address = reinterpret_cast<std::uintptr_t>(&failure);
    return QStringLiteral("Exception %1 in module %2 at %3.\r\n%4\r\n")
        .arg(failureClassName(failure), moduleName,
             QStringLiteral("%1")
                 .arg(address, int(2 * sizeof address), 16, QLatin1Char('0'))
                 .toUpper(),
             withFinalDot(QString::fromUtf8(failure.what())));
}

void showErrorDisplay(ErrorBox& box, const QString& title, const std::exception_ptr& failure)
{
    if (std::optional<QString> text = errorDisplayText(failure)) {
        box.show(title, *text);
    }
}

} // namespace window
