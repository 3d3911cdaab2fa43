// The operator program: the gateway with its window. Start-up order: notification icon,
// request listener, lock-system link, the shown window, the event loop.

#include "app/ReadProgramOptions.h"
#include "gateway/base/BuildInfo.h"
#include "gateway/base/OptionReader.h"
#include "gateway/platform/LogFile.h"
#include "gateway/platform/ProcessFacts.h"
#include "window/ApplicationIcon.h"
#include "window/ErrorBox.h"
#include "window/OperatorOptions.h"
#include "window/ProgramText.h"
#include "window/Startup.h"
#include "window/StopSignals.h"

#include <QApplication>

#include <optional>

int main(int argc, char* argv[])
{
    // First of all, so that SIGTERM and SIGINT are kept from the first moment of start-up.
    window::StopSignals stopSignals;
    // Likewise SIGHUP, which would otherwise end the program at once: it reopens the window's
    // files once the window is there. Windows has no such signal, and nothing to watch for it.
    std::optional<gateway::ReopenRequest> reopen;
    if (!gateway::windowsSystem()) {
        reopen.emplace();
    }

    // The settings file and the command line, read before anything that needs a display.
    app::ProgramOptions command;
    try {
        command = app::readProgramOptions(app::Program::Window, argc, argv);
    } catch (const gateway::UsageError& error) {
        return window::showBadOptions(argc, argv, error.what(), stopSignals);
    }
    using Action = app::ProgramOptions::Action;
    if (command.action == Action::Help) {
        return window::showProgramText(
            argc, argv, app::programUsage(app::Program::Window, gateway::windowsSystem()));
    }
    if (command.action == Action::Version) {
        return window::showProgramText(
            argc, argv, std::string("velmor_snd ") + gateway::projectVersion() + "\n");
    }
    window::OperatorOptions options(app::gatewayOptions(command));
    options.reconnect = std::chrono::seconds(command.reconnectSeconds);
    options.keyRecord = command.keyRecord;
    options.logFile = command.logFile;
    options.logLines = command.logLines;
    options.keepMonths = command.keepMonths;
    options.monitoring = {command.metricsListen, command.metricsAllowed};

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmor_snd"));
    QApplication::setWindowIcon(window::applicationIcon());
    // The window quits the program when it is closed; a message box closed before the window
    // is shown must not.
    QApplication::setQuitOnLastWindowClosed(false);

    // A stop (SIGTERM, SIGINT, the end of the user's session) ends the program as closing the
    // window does, also while a start-up box waits for the operator: the box goes, the event
    // loop ends, then the window is destroyed in order.
    window::ErrorBox errorBox;
    stopSignals.watch([&errorBox] {
        errorBox.dismiss();
        QCoreApplication::quit();
    });
    return window::runOperatorProgram(options, errorBox, stopSignals.signal(),
                                      reopen ? &*reopen : nullptr);
}
