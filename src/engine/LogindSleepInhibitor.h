#pragma once

#include "ProductInfo.h"
#include "engine/SleepInhibitor.h"

#include <juce_core/juce_core.h>

/**
    Holds a logind inhibitor lock for sleep, idle, shutdown and the lid switch
    (what), in "block" mode, through
    org.freedesktop.login1.Manager.Inhibit on the system bus (sd-bus). The lock
    lives as long as the file descriptor logind hands back: release() and the
    destructor close it. Where there is no system bus or no logind, acquire()
    reports that on stderr and returns false.
*/
class LogindSleepInhibitor final : public SleepInhibitor
{
public:
    /** What the lock holds off. With the lid switch in it, closing a laptop's lid
        does not suspend it either (logind's default LidSwitchIgnoreInhibited=yes
        lets the lid override a sleep lock alone); with shutdown, neither a
        power-off nor a reboot goes ahead unasked. */
    static constexpr const char* what = "sleep:idle:shutdown:handle-lid-switch";

    /** What `systemd-inhibit --list` shows for the lock. */
    static constexpr const char* who = ProductInfo::name;
    static constexpr const char* why = "Writing new firmware to the QB4 II controller: "
                                       "sleeping now could leave the controller unusable";

    /** The longest the message thread waits for the bus and logind, from the
        connection to the answer. */
    static constexpr std::uint64_t callTimeoutMicroseconds = 2'000'000;

    LogindSleepInhibitor() = default;
    ~LogindSleepInhibitor() override;

    bool acquire() override;
    void release() override;
    bool isHeld() const override { return lockFd >= 0; }
    std::string getFailure() const override { return failure; }

private:
    /** Runs the connection until it is ready, within callTimeoutMicroseconds;
        returns the time left, or 0 when it was not ready in time. */
    static std::uint64_t waitUntilReady (struct sd_bus* bus);
    void reportCannotInhibit (const std::string& reason);

    int lockFd = -1;
    std::string failure;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogindSleepInhibitor)
};
