// The operator program: the gateway with its window. Start-up order: notification icon,
// request listener, lock-system link, the shown window, the event loop.

#include "window/ApplicationIcon.h"
#include "window/ErrorBox.h"
#include "window/Startup.h"
#include "window/StopSignals.h"
#include "window/Velmor_send.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Before the application object starts its threads, so that they all inherit the
    // blocked stop signals.
    window::StopSignals stopSignals;

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("velmor_snd"));
    QApplication::setWindowIcon(window::applicationIcon());
    // The window quits the program when it is closed; a message box closed before the window
    // is shown must not.
    QApplication::setQuitOnLastWindowClosed(false);

    window::ErrorBox errorBox;
    std::unique_ptr<TForm7> form = window::createMainWindow(gateway::GatewayOptions{}, errorBox);
    if (!form) {
        return 1;
    }
    window::showMainWindow(*form, window::startupShow(window::platformShowState()));

    // SIGTERM and SIGINT end the program as closing the window does: the event loop ends,
    // then the window is destroyed. So does the end of the user's session: Qt answers the
    // session manager's query with consent (there is nothing to save) and quits the event
    // loop on its end-of-session notice.
    stopSignals.watch([] { QCoreApplication::quit(); });

    const int exitCode = QApplication::exec();
    form.reset();
    return exitCode;
}
