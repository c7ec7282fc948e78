// The framework's X11 classes are declared only where this is set.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "app/X11EventQueueWatch.h"

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX
#include <juce_events/native/juce_linux_EventLoopInternal.h>

// That header is the framework's own, not its API: what this relies on (the
// loop's handler for a descriptor, the X11 loop's use of it) was read in JUCE
// 7.0.5's source. Another version must be read again before it is trusted.
#if JUCE_MAJOR_VERSION != 7 || JUCE_MINOR_VERSION != 0 || JUCE_BUILDNUMBER != 5
#error "X11EventQueueWatch was written against JUCE 7.0.5's Linux event loop: check invokeEventLoopCallbackForFd and the X11 loop of this version, then update this check"
#endif
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
