#pragma once

#include <memory>
#include <string>

/**
    Keeps the machine from sleeping, going idle or shutting down while firmware
    is being written: a controller left half-written by a suspended laptop may
    not start again. Each platform has its own way of asking;
    createForPlatform() picks it.
*/
class SleepInhibitor
{
public:
    virtual ~SleepInhibitor() = default;

    /** Asks the system not to sleep, idle or shut down until release(). Returns
        whether it agreed; where it cannot, says why in one line on stderr and
        in getFailure(). Asking again while held does nothing. Message thread. */
    virtual bool acquire() = 0;

    /** Why the last acquire() failed, in a few words; empty after one that
        succeeded. Message thread. */
    virtual std::string getFailure() const { return {}; }

    /** Lets the system sleep and idle again. Harmless when nothing is held.
        Message thread. */
    virtual void release() = 0;

    /** Whether a lock is held now. Message thread. */
    virtual bool isHeld() const = 0;

    /** The inhibitor of the platform the program runs on: logind on Linux, the
        execution state on Windows, one that holds nothing elsewhere. */
    static std::unique_ptr<SleepInhibitor> createForPlatform();
};
