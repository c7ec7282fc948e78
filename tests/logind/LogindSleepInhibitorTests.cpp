// The logind inhibitor on a real D-Bus daemon, against a mock logind: the lock is
// listed from the update's start until its ending, in each phase and for each
// way of ending, and an update without a system bus runs as before. The runner
// (run-with-mock-logind.sh) provides the bus and the mock.

#include "engine/LogindSleepInhibitor.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include <cstdlib>

using testing_support::pumpUntil;
using testing_support::RecordingEngineListener;

namespace
{
    struct Inhibitor
    {
        std::string what, who, why, mode;
    };

    /** The locks the mock logind lists now, asked over the system bus. */
    std::vector<Inhibitor> listInhibitors()
    {
        std::vector<Inhibitor> result;
        sd_bus* bus = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error error {}; // SD_BUS_ERROR_NULL, without its C99 compound literal

        if (sd_bus_open_system (&bus) >= 0
            && sd_bus_call_method (bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply, "")
                   >= 0
            && sd_bus_message_enter_container (reply, 'a', "(ssssuu)") >= 0)
        {
            const char *what, *who, *why, *mode;
            uint32_t uid, pid;

            while (sd_bus_message_read (reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
                result.push_back ({ what, who, why, mode });
        }
        else
        {
            ADD_FAILURE() << "ListInhibitors failed: " << (error.message != nullptr ? error.message : "no bus");
        }

        sd_bus_error_free (&error);
        sd_bus_message_unref (reply);
        sd_bus_flush_close_unref (bus);
        return result;
    }

    bool lockListed()
    {
        const auto locks = listInhibitors();
        return locks.size() == 1 && locks[0].what == "sleep:idle:shutdown:handle-lid-switch" && locks[0].who == "QB4II Firmware Updater"
               && locks[0].why == LogindSleepInhibitor::why && locks[0].mode == "block";
    }

    // The mock drops a lock when it notices its descriptor closed: on its next turn.
    bool lockDropped()
    {
        return pumpUntil ([] { return listInhibitors().empty(); });
    }

    enum class Ending
    {
        completes,
        controllerLostWhileErasing,
        controllerLostWhileSending,
        appQuitsWhileSending
    };

    struct Row
    {
        const char* name;
        bool emergency;
        Ending ending;
    };

    std::ostream& operator<< (std::ostream& os, const Row& row) { return os << row.name; }

    struct LogindInhibitorLife : ::testing::TestWithParam<Row>
    {
        // Long enough phases to look at the lock in each.
        static FirmwareTiming timing() { return { 256, 2, 300, 100 }; }

        const Row& row = GetParam();
        testing_support::UpdaterRig rig { timing() };
        RecordingEngineListener listener;

        void SetUp() override
        {
            ASSERT_NE (std::getenv ("DBUS_SYSTEM_BUS_ADDRESS"), nullptr) << "run through run-with-mock-logind.sh";
            ASSERT_TRUE (listInhibitors().empty());
            rig.engine->addListener (&listener);
            rig.engine->setSleepInhibitor (std::make_unique<LogindSleepInhibitor>());
        }

        void TearDown() override
        {
            if (rig.engine != nullptr)
                rig.engine->removeListener (&listener);
        }

        bool ended() const
        {
            const auto& s = listener.states;
            return std::find (s.begin(), s.end(), (int) ApplicationEngine::complete) != s.end() || ! listener.errors.empty();
        }
    };
} // namespace

TEST_P (LogindInhibitorLife, HeldInEachPhaseAndReleasedOnTheEnding)
{
    auto& engine = rig.engine;

    if (row.emergency)
        rig.emulator.powerUpInBootloader();
    else
        rig.emulator.powerUp();

    ASSERT_TRUE (pumpUntil ([&] { return engine->getState().deviceName.isNotEmpty()
                                         && (row.emergency || engine->getState().firmwareVersion.load() == 1.0); }));
    EXPECT_TRUE (listInhibitors().empty()) << "a lock before the update";

    ASSERT_TRUE (engine->startUpdate (row.emergency));
    EXPECT_TRUE (lockListed()) << "not held while erasing";

    if (row.ending == Ending::controllerLostWhileErasing)
    {
        rig.emulator.powerDown();
    }
    else
    {
        ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.getBursts().size() >= 10; }));
        // The emergency form erases throughout.
        EXPECT_EQ (engine->getState().updateState, (int) (row.emergency ? ApplicationEngine::erasing : ApplicationEngine::sending));
        EXPECT_TRUE (lockListed()) << "not held while sending";

        if (row.ending == Ending::controllerLostWhileSending)
            rig.emulator.powerDown();
        else if (row.ending == Ending::appQuitsWhileSending)
        {
            engine->removeListener (&listener);
            engine = nullptr;
            EXPECT_TRUE (lockDropped()) << "the lock outlived the app";
            return;
        }
    }

    ASSERT_TRUE (pumpUntil ([&] { return ended(); }, 20000));
    EXPECT_EQ (listener.errors.empty(), row.ending == Ending::completes);
    EXPECT_TRUE (lockDropped()) << "the lock outlived the update";
}

INSTANTIATE_TEST_SUITE_P (
    Endings,
    LogindInhibitorLife,
    ::testing::Values (
        Row { "Completes", false, Ending::completes },
        Row { "EmergencyCompletes", true, Ending::completes },
        Row { "ControllerLostWhileErasing", false, Ending::controllerLostWhileErasing },
        Row { "ControllerLostWhileSending", false, Ending::controllerLostWhileSending },
        Row { "EmergencyControllerLostWhileSending", true, Ending::controllerLostWhileSending },
        Row { "AppQuitsWhileSending", false, Ending::appQuitsWhileSending }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });

namespace
{
    /** Points the system bus elsewhere while it lives. */
    struct ScopedSystemBus
    {
        explicit ScopedSystemBus (const std::string& address) { setenv ("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1); }
        ~ScopedSystemBus() { setenv ("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1); }
        const std::string saved = std::getenv ("DBUS_SYSTEM_BUS_ADDRESS") != nullptr ? std::getenv ("DBUS_SYSTEM_BUS_ADDRESS") : "";
    };
} // namespace

TEST (LogindInhibitorWithoutABus, ABusThatNeverAnswersHoldsTheMessageThreadNoLongerThanTheTimeout)
{
    // The kernel accepts its connections into the backlog; it never says a word.
    const auto path = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("qb4ii-silent-bus", "");
    const int silent = socket (AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address { AF_UNIX, {} };
    path.getFullPathName().copyToUTF8 (address.sun_path, sizeof (address.sun_path));
    ASSERT_EQ (bind (silent, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
    ASSERT_EQ (listen (silent, 4), 0);
    const ScopedSystemBus bus ("unix:path=" + path.getFullPathName().toStdString());

    LogindSleepInhibitor inhibitor;
    EXPECT_FALSE (inhibitor.acquire());
    EXPECT_EQ (inhibitor.getFailure(), "the system bus did not answer within 2 s") << "sd-bus's own wait is 90 s";
    close (silent), path.deleteFile();
}

TEST (LogindInhibitorWithoutABus, TheUpdateWaitsForTheUsersWordThenRunsAsBefore)
{
    const ScopedSystemBus bus ("unix:path=/nonexistent/qb4ii-no-bus");

    testing_support::UpdaterRig rig;
    RecordingEngineListener listener;
    rig.engine->addListener (&listener);
    rig.engine->setSleepInhibitor (std::make_unique<LogindSleepInhibitor>());
    rig.emulator.powerUp();
    ASSERT_TRUE (pumpUntil ([&] { return rig.engine->getState().firmwareVersion.load() == 1.0; }));

    // Nothing is sent until the user has been told and agreed.
    ASSERT_FALSE (rig.engine->startUpdate (false));
    EXPECT_EQ (rig.engine->getLastStartRefusal(), ApplicationEngine::machineMaySleep);
    EXPECT_TRUE (rig.engine->getSleepFailure().startsWith ("no system bus")) << rig.engine->getSleepFailure();
    rig.engine->acceptSleepRisk();

    ASSERT_TRUE (rig.engine->startUpdate (false));
    ASSERT_TRUE (pumpUntil ([&] { return rig.engine->getState().updateState == ApplicationEngine::complete
                                         || ! listener.errors.empty(); },
                            20000));
    EXPECT_EQ (rig.engine->getState().updateState, (int) ApplicationEngine::complete);
    EXPECT_TRUE (listener.errors.empty());
    EXPECT_EQ (rig.emulator.getCounts().eraseRequests, 1);
    rig.engine->removeListener (&listener);
}
