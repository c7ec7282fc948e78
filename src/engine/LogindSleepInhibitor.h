#pragma once

#include "ProductInfo.h"
#include "engine/SleepInhibitor.h"

#include <juce_core/juce_core.h>

/**
    Holds a logind inhibitor lock for sleep and idle, in "block" mode, through
    org.freedesktop.login1.Manager.Inhibit on the system bus (sd-bus). The lock
    lives as long as the file descriptor logind hands back: release() and the
    destructor close it. Where there is no system bus or no logind, acquire()
    reports that on stderr and returns false.
*/
class LogindSleepInhibitor final : public SleepInhibitor
{
public:
    /** What `systemd-inhibit --list` shows for the lock. */
    static constexpr const char* who = ProductInfo::name;
    static constexpr const char* why = "Writing new firmware to the QB4 II controller: "
                                       "sleeping now could leave the controller unusable";

    /** The longest the message thread waits for logind to answer. */
    static constexpr std::uint64_t callTimeoutMicroseconds = 2'000'000;

    LogindSleepInhibitor() = default;
    ~LogindSleepInhibitor() override;

    bool acquire() override;
    void release() override;
    bool isHeld() const override { return lockFd >= 0; }

private:
    int lockFd = -1;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogindSleepInhibitor)
};
