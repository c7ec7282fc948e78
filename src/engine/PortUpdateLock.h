#pragma once

#include <juce_core/juce_core.h>

#if ! JUCE_WINDOWS
#include <sys/types.h>
#endif

#include <memory>

/**
    Claims a controller port for one update, across every updater this user runs:
    while one update holds the claim, no other may write to the port, because two
    streams on one port interleave their slices.

    The claim is an exclusive lock, taken without waiting, on a file named after
    the port, so a crashed updater's claim goes with its process. Two claims in
    one process exclude each other as two processes' do.

    The file is the user's own, where no other user can create, replace or hold
    it: on Linux in $XDG_RUNTIME_DIR (the session's private folder), or, without
    one, in /tmp/qb4ii-update-UID, a folder only its owner may use; on Windows in
    the user's temporary folder, opened for this process alone. setLockFolder()
    can choose another folder. A claim is refused, with the reason
    (getFailure()), whenever the file cannot be trusted or locked: a link, a
    FIFO or any other non-file at its name, a file of another user's, a missing
    or unusable folder. Nothing is granted without a lock. As root under sudo,
    the claim is also taken in the folder of the user who ran sudo (SUDO_UID),
    in that user's name, so that an update as root and the user's own exclude
    each other.

    Any thread; one object is used by one thread at a time.
*/
class PortUpdateLock final
{
public:
    /** Tries to claim the port, for up to waitMs if another update holds it. */
    explicit PortUpdateLock (const juce::String& portName, int waitMs = 0);

    /** Gives the claim up, if it was taken. */
    ~PortUpdateLock();

    /** True when this object holds the claim. */
    bool isHeld() const noexcept { return held; }

    /** Why the claim could not be made, when that was not another update
        holding it: "the lock file /run/user/1000/qb4ii-update-….lock is a
        symbolic link". Empty while held, or when another update holds it. */
    const juce::String& getFailure() const noexcept { return failure; }

    /** True when another of this user's updates holds a claim on the port now.
        A claim that cannot be made at all (getFailure()) is not another
        update's: the update itself reports it. */
    static bool isClaimed (const juce::String& portName);

    /** The lock file's name for a port: ASCII letters, digits and '_', and a
        hash of the name's UTF-8 bytes, so that every build and locale picks the
        same name, and distinct names different ones. */
    static juce::String lockFileNameFor (const juce::String& portName);

    /** Where this process keeps its claims from now on. A program whose ports are
        not the system's (the demo, the tests, each test process of a parallel
        run) keeps them in a folder of its own, so that it neither blocks nor is
        blocked by updaters of real controllers. Any thread. */
    static void setLockFolder (const juce::File& folder);

    /** The folder setLockFolder() chose, or none. Any thread. */
    static juce::File getLockFolder();

private:
    bool tryClaim();
    bool refuse (const juce::String& why);

    const juce::String portName;
#if JUCE_WINDOWS
    void* file = nullptr; // the lock file's handle
#else
    bool claimFile (const juce::String& path, uid_t owner, int& claimed);

    int fd = -1;
    int sudoUserFd = -1; // as root under sudo: the claim in the folder of the user who ran it
#endif
    bool held = false;
    juce::String failure;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PortUpdateLock)
};
