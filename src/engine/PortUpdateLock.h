#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/**
    Claims a controller port for one update, across every updater running on this
    machine: while one update holds the claim, no other may write to the port,
    because two streams on one port interleave their slices.

    The claim is an exclusive lock on a file named after the port, in /tmp (on
    Windows, the user's temporary folder: the file opened for this process
    alone) unless setLockFolder() chose another folder, taken without waiting,
    so a crashed updater's claim goes with its process. Two
    claims in one process exclude each other as two processes' do. A file no
    updater can open (a broken /tmp) does not stop updates: the claim is then
    granted without a lock.

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

    /** True when an update anywhere on this machine holds a claim on the port now. */
    static bool isClaimed (const juce::String& portName);

    /** The lock file's name for a port: printable, and distinct for distinct port
        names. */
    static juce::String lockFileNameFor (const juce::String& portName);

    /** Where this process keeps its claims from now on. A program whose ports are
        not the system's (the demo, the tests, each test process of a parallel
        run) keeps them in a folder of its own, so that it neither blocks nor is
        blocked by updaters of real controllers. Any thread. */
    static void setLockFolder (const juce::File& folder);

private:
    bool tryClaim();

    const juce::String portName;
#if JUCE_WINDOWS
    void* file = nullptr; // the lock file's handle
#else
    int fd = -1;
#endif
    bool held = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PortUpdateLock)
};
