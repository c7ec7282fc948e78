#pragma once

#include <juce_events/juce_events.h>

/**
    Makes sure the message loop handles every X event sent to the app's windows.

    The framework's X11 loop sleeps until the X connection's socket is readable,
    then handles what Xlib has queued. But an Xlib call that waits for the server
    (a paint's sync, a property read) or flushes, made on the message thread
    outside that wake-up, also reads into Xlib's queue whatever events arrived
    meanwhile. The socket is then empty and the loop sleeps with events waiting:
    a close request that comes while the window paints is handled only when some
    later event arrives. On a desktop that is the next pointer motion over the
    window; on a bare X server, never.

    Every intervalMs this looks, without waiting, for events already read, and if
    some wait, runs the loop's own handler for the X connection, as it would have
    run had it woken. Linux only: elsewhere it does nothing.

    Create it once the app's first window exists, and create and destroy it on the
    message thread.
*/
class X11EventQueueWatch final : private juce::Timer
{
public:
    static constexpr int intervalMs = 100;

    X11EventQueueWatch();
    ~X11EventQueueWatch() override;

    X11EventQueueWatch (const X11EventQueueWatch&) = delete;
    X11EventQueueWatch& operator= (const X11EventQueueWatch&) = delete;

private:
    /** Looks once, and handles the events that wait unseen. Message thread. */
    void timerCallback() override;
};
