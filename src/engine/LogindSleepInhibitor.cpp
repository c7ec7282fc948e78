#include "engine/LogindSleepInhibitor.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace
{
    std::string describeErrno (int negativeErrno)
    {
        return std::strerror (-negativeErrno);
    }
} // namespace

std::uint64_t LogindSleepInhibitor::waitUntilReady (sd_bus* bus)
{
    const auto nowMicroseconds = [] {
        return (std::uint64_t) (juce::Time::getMillisecondCounterHiRes() * 1000.0);
    };
    const auto deadline = nowMicroseconds() + callTimeoutMicroseconds;

    for (;;)
    {
        if (sd_bus_is_ready (bus) > 0)
            return std::max<std::uint64_t> (1, deadline - std::min (deadline, nowMicroseconds()));

        const int processed = sd_bus_process (bus, nullptr);
        const auto now = nowMicroseconds();

        if (processed < 0 || now >= deadline)
            return 0;

        if (processed == 0 && sd_bus_wait (bus, deadline - now) < 0)
            return 0;
    }
}

void LogindSleepInhibitor::reportCannotInhibit (const std::string& reason)
{
    failure = reason;
    std::cerr << who << ": cannot keep the machine awake during the update (" << reason << ")" << std::endl;
}

LogindSleepInhibitor::~LogindSleepInhibitor()
{
    release();
}

bool LogindSleepInhibitor::acquire()
{
    if (isHeld())
        return true;

    failure.clear();
    sd_bus* bus = nullptr;

    // Honours DBUS_SYSTEM_BUS_ADDRESS, as every D-Bus client does.
    if (const int r = sd_bus_open_system (&bus); r < 0)
    {
        reportCannotInhibit ("no system bus: " + describeErrno (r));
        return false;
    }

    // sd-bus gives a bus that accepts the connection and never answers 90 s to
    // authenticate: the whole exchange gets callTimeoutMicroseconds instead.
    const auto remaining = waitUntilReady (bus);

    if (remaining == 0)
    {
        reportCannotInhibit ("the system bus did not answer within " + std::to_string (callTimeoutMicroseconds / 1'000'000) + " s");
        sd_bus_close_unref (bus);
        return false;
    }

    sd_bus_set_method_call_timeout (bus, remaining);

    sd_bus_error error {}; // SD_BUS_ERROR_NULL, without its C99 compound literal
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method (bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "Inhibit", &error, &reply,
                                "ssss", what, who, why, "block");

    if (r < 0)
    {
        reportCannotInhibit (std::string ("logind did not grant the lock: ")
                             + (error.message != nullptr ? error.message : describeErrno (r)));
    }
    else
    {
        int replyFd = -1;
        r = sd_bus_message_read (reply, "h", &replyFd);

        // The reply owns its descriptor: keep a copy of our own.
        if (r >= 0)
            lockFd = fcntl (replyFd, F_DUPFD_CLOEXEC, 3);

        if (lockFd < 0)
            reportCannotInhibit ("logind's answer held no lock: " + describeErrno (r < 0 ? r : -errno));
    }

    sd_bus_error_free (&error);
    sd_bus_message_unref (reply);
    // Not flushed: the call is over, and a bus that stopped reading would hold a
    // flush for ever.
    sd_bus_close_unref (bus);
    return isHeld();
}

void LogindSleepInhibitor::release()
{
    if (lockFd >= 0)
    {
        ::close (lockFd);
        lockFd = -1;
    }
}
