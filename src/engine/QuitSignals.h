#pragma once

#include <functional>
#include <memory>

/**
    Turns the signals that ask a program to end, SIGINT (Ctrl+C in a terminal),
    SIGTERM (logout, kill) and SIGHUP (its terminal closed), into a call on the
    message thread, so that they reach
    the program's own rule for ending (the window's quit guard, the terminal
    updater's interruption rule) instead of ending it in the middle of an update.

    The handlers only write a byte to a pipe; the message loop reads it. The
    pipe is made once and stays open until the process ends; where it cannot be
    made, the program says so on stderr and the signals keep their defaults. On
    Windows, a console program's Ctrl+C and Ctrl+Break are taken the same way
    (posted to the message thread). Elsewhere nothing is installed. One instance at a time; create and
    destroy it on the message thread, once the message manager exists. The
    handlers in place before are restored on destruction.
*/
class QuitSignals final
{
public:
    /** Installs the handlers. The callback runs on the message thread, once per
        signal received (signals arriving together may be merged into one call). */
    explicit QuitSignals (std::function<void()> onQuitRequested);
    ~QuitSignals();

    /** From now on a write to a pipe or socket whose reader has gone fails with
        EPIPE instead of ending the process: a script's `| head -n1`, a reader
        killed by the same Ctrl+C, or a dropped session must never end an update.
        A handler that does nothing, not SIG_IGN, so that programs started later
        get the default back. For the whole process, from its start; nothing
        where there is no SIGPIPE. Call it on the main thread before any other
        thread exists. */
    static void ignoreBrokenPipes();

    QuitSignals (const QuitSignals&) = delete;
    QuitSignals& operator= (const QuitSignals&) = delete;

private:
    struct Pimpl;
    std::unique_ptr<Pimpl> pimpl; // null when nothing was installed
};
