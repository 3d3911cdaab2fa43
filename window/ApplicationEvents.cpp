#include "window/ApplicationEvents.h"

namespace window {

void ApplicationEvents::minimize()
{
    if (m_minimized) {
        return;
    }
    m_minimized = true;
    emit minimized();
}

void ApplicationEvents::restored()
{
    m_minimized = false;
}

} // namespace window
