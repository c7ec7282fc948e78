#pragma once

#include "engine/ApplicationEngine.h"

#include <functional>

/**
    Decides whether the program may quit now: at once while no update runs;
    while one is erasing or sending, only if the user confirms, because quitting
    then leaves the controller without working firmware.

    Every way of quitting goes through it: the window's close button, the
    system's quit request and the quit signals. A request that arrives while the
    question is open is refused rather than asked twice.

    Message thread.
*/
class QuitGuard final
{
public:
    /** Asks the user the question with the given title and message; true for OK. */
    using Ask = std::function<bool (const juce::String& title, const juce::String& message)>;

    /** The engine may be null (before start-up ends): quitting is then allowed. */
    QuitGuard (ApplicationEngine::Ptr engine, Ask ask);

    /** True when the program may quit now. May block while asking. */
    bool mayQuit();

    static const char* const questionTitle;
    static const char* const questionMessage;

private:
    ApplicationEngine::Ptr engine;
    Ask ask;
    bool asking = false;

    JUCE_DECLARE_NON_COPYABLE (QuitGuard)
};
