#include "engine/LogindSleepInhibitor.h"

#include <systemd/sd-bus.h>

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

    sd_bus_set_method_call_timeout (bus, callTimeoutMicroseconds);

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
    sd_bus_flush_close_unref (bus);
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
