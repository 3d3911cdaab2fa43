// The operator program: the gateway with its window. Start-up order: notification icon,
// request listener, lock-system link, the shown window, the event loop.

#include "window/ApplicationIcon.h"
#include "window/ErrorBox.h"
#include "window/Startup.h"
#include "window/StopSignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // First of all, so that SIGTERM and SIGINT are kept from the first moment of start-up.
    window::StopSignals stopSignals;

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
    return window::runOperatorProgram(gateway::GatewayOptions{}, errorBox, stopSignals.signal());
}
