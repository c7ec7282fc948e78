// The framework's X11 classes are declared only where this is set.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "app/X11EventQueueWatch.h"

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX
#include <juce_events/native/juce_linux_EventLoopInternal.h>
#endif

X11EventQueueWatch::X11EventQueueWatch()
{
#if JUCE_LINUX
    if (auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();
        windowSystem != nullptr && windowSystem->getDisplay() != nullptr)
        startTimer (intervalMs);
#endif
}

X11EventQueueWatch::~X11EventQueueWatch()
{
    stopTimer();
}

void X11EventQueueWatch::timerCallback()
{
#if JUCE_LINUX
    auto* windowSystem = juce::XWindowSystem::getInstanceWithoutCreating();

    if (windowSystem == nullptr || windowSystem->getDisplay() == nullptr)
        return;

    auto* display = windowSystem->getDisplay();
    auto* x = juce::X11Symbols::getInstance();
    int connection = -1;

    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;

        // What Xlib holds, and what its transport has already read from the
        // socket: this reads without waiting, as every flush does.
        if (x->xEventsQueued (display, QueuedAfterReading) == 0)
            return;

        connection = x->xConnectionNumber (display);
    }

    // The loop's own handler for the connection, as it runs when the socket is
    // readable: it handles everything queued.
    juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd (connection);
#endif
}
