// Before Xlib's headers, whose macros (None, Bool) would break it.
#include <gtest/gtest.h>

// The framework's X11 classes are declared only where this is set.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "app/X11EventQueueWatch.h"
#include "support/TestHelpers.h"

#include <juce_gui_basics/juce_gui_basics.h>

using namespace testing_support;

namespace
{
    ::Display* display() { return juce::XWindowSystem::getInstance()->getDisplay(); }

    int eventsWaitingInXlib()
    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;
        return juce::X11Symbols::getInstance()->xEventsQueued (display(), QueuedAlready);
    }

    /** Sends the window an event, then makes a round trip to the server as a paint
        does, outside the loop's wake-up: Xlib reads the event into its queue on
        the way, and the socket is left empty. */
    void queueEventUnseen (juce::Component& window)
    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;
        auto* x = juce::X11Symbols::getInstance();

        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = (::Window) window.getPeer()->getNativeHandle();
        event.xclient.message_type = x->xInternAtom (display(), "QB4II_TEST_MESSAGE", False);
        event.xclient.format = 32;
        x->xSendEvent (display(), event.xclient.window, False, NoEventMask, &event);
        x->xSync (display(), False);
    }
} // namespace

TEST (X11EventQueueWatch, EventsReadIntoXlibsQueueOutsideTheLoopAreHandled)
{
    juce::DocumentWindow window ("X11EventQueueWatch", juce::Colours::grey, juce::DocumentWindow::closeButton, true);
    window.setUsingNativeTitleBar (true);
    window.setSize (200, 100);
    window.setVisible (true);
    ASSERT_NE (window.getPeer(), nullptr);

    // Showing the window made round trips of its own, and its first events were
    // read into the queue on the way: the framework's loop alone does not see
    // them. (Should a newer framework wake for them, the watch is no longer
    // needed; the rest still holds.)
    pumpFor (300);
    if (eventsWaitingInXlib() == 0)
        std::cout << "note: the loop handled the window's first events without the watch\n";

    X11EventQueueWatch watch;
    const auto deadline = 10 * X11EventQueueWatch::intervalMs;
    EXPECT_TRUE (pumpUntil ([] { return eventsWaitingInXlib() == 0; }, deadline)) << "the window's first events";

    queueEventUnseen (window);
    ASSERT_GE (eventsWaitingInXlib(), 1);
    EXPECT_TRUE (pumpUntil ([] { return eventsWaitingInXlib() == 0; }, deadline)) << "an event sent later";
}
