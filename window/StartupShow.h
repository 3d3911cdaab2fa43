#pragma once

#include "gateway/platform/ProcessFacts.h"

namespace window {

// How whoever starts the program asks for the main window to be shown.
enum class StartupShow
{
    Normal,
    Maximized,
    // The minimise event is raised first, while the window is not shown yet; then the window
    // is shown minimised with its taskbar button and without taking the focus.
    MinimizedWithoutActivation,
};

// The platform's show-window values as Windows hands them to a starting program
// (SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWMINNOACTIVE); spelt out so that every platform
// reads them alike.
inline constexpr int showNormal = 1;
inline constexpr int showMaximized = 3;
inline constexpr int showMinimizedWithoutActivation = 7;

// 3 maximised, 7 minimised without activation, anything else normal.
StartupShow startupShow(int showState);

// The show state that the starter passed (start /min gives 7 on Windows). X11 and Wayland
// hand a program none.
inline int platformShowState()
{
    return gateway::startupShowState();
}

} // namespace window
