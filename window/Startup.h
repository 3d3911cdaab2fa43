#pragma once

#include "gateway/Gateway.h"
#include "window/OperatorOptions.h"
#include "window/StartupShow.h"

#include <memory>

class TForm7;

namespace gateway {
class ReopenRequest;
}

namespace window {

class ErrorBox;

// Builds the operator window, which adds the notification icon and starts the listener, then
// runs its creation handler: the link connect, whose failure goes to the error display while
// serving goes on. A window that cannot be built (the port is taken) is reported in the
// "Application Error" box and gives null; the link is then never connected. A raised stop
// abandons the link connect.
std::unique_ptr<TForm7> createMainWindow(const OperatorOptions& options, ErrorBox& errorBox,
                                         const gateway::WakeSignal* stop = nullptr);

// The whole run after the application object exists: build, show as the starter asked, the
// event loop, then the ordered shutdown. The exit code: 1 when the listener cannot start, 0
// otherwise; a stop at any moment (during a start-up box too) shuts down in order with 0.
// The caller's stop watcher dismisses the boxes and quits the event loop. Each raise of reopen
// (SIGHUP) reopens the window's files once it is built; one raised before is delivered then.
int runOperatorProgram(const OperatorOptions& options, ErrorBox& errorBox,
                       const gateway::WakeSignal& stop, gateway::ReopenRequest* reopen = nullptr);

// Shows the built window as the starter asked.
void showMainWindow(TForm7& form, StartupShow how);

} // namespace window
