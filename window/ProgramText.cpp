#include "window/ProgramText.h"

#include "gateway/platform/ProcessFacts.h"
#include "window/ApplicationTitle.h"
#include "window/ErrorBox.h"
#include "window/StopSignals.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace window {

namespace {

// Whether a window can be shown: Windows always has a desktop; elsewhere Qt needs an X or
// Wayland display, or a platform chosen for it (offscreen), and would abort without one.
bool displayAvailable()
{
    return gateway::windowsSystem() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

QString title(char** argv)
{
    return applicationTitle(QString::fromLocal8Bit(argv[0]).replace(QLatin1Char('\\'), '/'));
}

} // namespace

int showProgramText(int& argc, char** argv, const std::string& text)
{
    if (gateway::useParentConsole()) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return 0;
    }
    if (displayAvailable()) {
        QApplication application(argc, argv);
        QMessageBox::information(nullptr, title(argv), QString::fromStdString(text));
    }
    return 0;
}

int showBadOptions(int& argc, char** argv, const std::string& message, StopSignals& stopSignals)
{
    if (gateway::useParentConsole()) {
        std::fprintf(stderr, "velmor_snd: %s\nTry 'velmor_snd --help' for the options.\n",
                     message.c_str());
        std::fflush(stderr);
    }
    if (displayAvailable()) {
        QApplication application(argc, argv);
        ErrorBox box;
        stopSignals.watch([&box] { box.dismiss(); });
        box.show(title(argv), QString::fromStdString(message));
    }
    return 2;
}

} // namespace window
