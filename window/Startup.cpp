#include "window/Startup.h"

#include "window/ErrorBox.h"
#include "window/ErrorDisplay.h"
#include "window/Velmor_send.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

namespace window {

std::unique_ptr<TForm7> createMainWindow(const OperatorOptions& options, ErrorBox& errorBox,
                                         const gateway::WakeSignal* stop)
{
    std::unique_ptr<TForm7> form;
    try {
        form = std::make_unique<TForm7>(options, errorBox);
    } catch (const std::exception& failure) {
        const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        errorBox.show(startupFailureCaption, startupFailureText(failure, module));
        return nullptr;
    }
    try {
        form->FormCreate(stop);
    } catch (...) {
        form->showError(std::current_exception());
    }
    return form;
}

void showMainWindow(TForm7& form, StartupShow how)
{
    switch (how) {
    case StartupShow::Maximized:
        form.showMaximized();
        break;
    case StartupShow::MinimizedWithoutActivation:
        // The minimise event comes first; its hide does nothing to a window not shown yet.
        form.ApplicationEvents1->minimize();
        form.showMinimizedWithoutActivation();
        break;
    case StartupShow::Normal:
        form.show();
        break;
    }
}

int runOperatorProgram(const OperatorOptions& options, ErrorBox& errorBox,
                       const gateway::WakeSignal& stop, gateway::ReopenRequest* reopen)
{
    std::unique_ptr<TForm7> form = createMainWindow(options, errorBox, &stop);
    if (stop.raised()) {
        // Destroying the window shuts everything down in order.
        return 0;
    }
    if (!form) {
        return 1;
    }
    if (reopen != nullptr) {
        form->watchReopenRequests(*reopen);
    }
    showMainWindow(*form, startupShow(platformShowState()));
    // Windows ends the process as soon as the end-of-session message has been handled, which
    // Qt announces only as aboutToQuit: the shutdown happens there, while the process still runs.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, form.get(),
                     [&form] { form->shutDown(); });
    const int exitCode = QApplication::exec();
    form.reset();
    return exitCode;
}

} // namespace window
