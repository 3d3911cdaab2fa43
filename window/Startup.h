#pragma once

#include "gateway/Gateway.h"
#include "window/StartupShow.h"

#include <memory>

class TForm7;

namespace window {

class ErrorBox;

// Builds the operator window, which adds the notification icon and starts the listener, then
// runs its creation handler: the link connect, whose failure goes to the error display while
// serving goes on. A window that cannot be built (the port is taken) is reported in the
// "Application Error" box and gives null; the link is then never connected.
std::unique_ptr<TForm7> createMainWindow(const gateway::GatewayOptions& options,
                                         ErrorBox& errorBox);

// Shows the built window as the starter asked.
void showMainWindow(TForm7& form, StartupShow how);

} // namespace window
