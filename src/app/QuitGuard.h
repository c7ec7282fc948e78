#pragma once

#include "engine/ApplicationEngine.h"

#include <functional>
#include <memory>

/**
    Decides whether the program may quit now: at once while no update runs;
    while one is erasing or sending, only if the user confirms, because quitting
    then leaves the controller without working firmware.

    Every way of quitting goes through it: the window's close button, the
    system's quit request and the quit signals. A request that arrives while the
    question is open is refused rather than asked twice.

    The question is asked asynchronously: requestQuit() returns at once, and the
    answer comes later through the message loop. Requests arrive from inside the
    loop's own handlers (the signal pipe's, the X connection's), and a nested
    modal loop there would run the loop inside itself.

    Message thread.
*/
class QuitGuard final
{
public:
    /** Asks the user the question with the given title and message, without
        waiting: answer (true for OK) is called later, on the message thread. */
    using Ask = std::function<void (const juce::String& title, const juce::String& message, std::function<void (bool)> answer)>;

    /** The engine may be null (before start-up ends): quitting is then allowed. */
    QuitGuard (ApplicationEngine::Ptr engine, Ask ask);

    /** Calls quit, now or once the user has confirmed, when the program may
        quit; never from inside this call while an update runs. */
    void requestQuit (std::function<void()> quit);

    static const char* const questionTitle;
    static const char* const questionMessage;

private:
    ApplicationEngine::Ptr engine;
    Ask ask;
    std::shared_ptr<bool> asking = std::make_shared<bool> (false); // outlives the guard while a question is open

    JUCE_DECLARE_NON_COPYABLE (QuitGuard)
};
