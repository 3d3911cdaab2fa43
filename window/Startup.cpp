#include "window/Startup.h"

#include "window/ErrorBox.h"
#include "window/ErrorDisplay.h"
#include "window/Velmor_send.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace window {

std::unique_ptr<TForm7> createMainWindow(const gateway::GatewayOptions& options, ErrorBox& errorBox)
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
        form->FormCreate();
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

} // namespace window
