#include "window/StartupShow.h"

namespace window {

StartupShow startupShow(int showState)
{
    switch (showState) {
    case showMaximized:
        return StartupShow::Maximized;
    case showMinimizedWithoutActivation:
        return StartupShow::MinimizedWithoutActivation;
    default:
        return StartupShow::Normal;
    }
}

} // namespace window
