#include "engine/WindowsSleepInhibitor.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace
{
    /** This process's visible top-level windows. */
    juce::Array<void*> ownTopLevelWindows()
    {
        juce::Array<void*> windows;
        EnumWindows (
            [] (HWND window, LPARAM list) -> BOOL {
                DWORD process = 0;
                GetWindowThreadProcessId (window, &process);

                if (process == GetCurrentProcessId() && IsWindowVisible (window))
                    reinterpret_cast<juce::Array<void*>*> (list)->add (window);

                return TRUE;
            },
            reinterpret_cast<LPARAM> (&windows));
        return windows;
    }
} // namespace

WindowsSleepInhibitor::~WindowsSleepInhibitor()
{
    release();
}

bool WindowsSleepInhibitor::acquire()
{
    if (held)
        return true;

    failure.clear();

    if (SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) == 0)
    {
        failure = "Windows refused to keep the system awake (error " + std::to_string (GetLastError()) + ")";
        return false;
    }

    for (auto* window : ownTopLevelWindows())
        if (ShutdownBlockReasonCreate ((HWND) window, shutdownReason))
            blockingWindows.add (window);

    return held = true;
}

void WindowsSleepInhibitor::release()
{
    if (! held)
        return;

    for (auto* window : blockingWindows)
        ShutdownBlockReasonDestroy ((HWND) window);

    blockingWindows.clear();
    SetThreadExecutionState (ES_CONTINUOUS);
    held = false;
}
