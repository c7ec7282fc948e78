// qb4ii-update's commands against the emulated controller, one row each: the
// exit status and the JSON events the row's run must give.

#include "cli/CommandRunner.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "support/TestHelpers.h"
#include "support/UpdaterRig.h"

#include <gtest/gtest.h>

#include <sstream>

using testing_support::pumpUntil;

namespace
{
    enum class Setup
    {
        plugged,          ///< running firmware 1.00
        unplugged,        ///< no controller
        otherWriter,      ///< Mixxx writes to the controller
        offlineAt100,     ///< the controller vanishes at slice 100, for good
        backWithOld,      ///< it comes back still running 1.00
        bootloader,       ///< powered up in its bootloader
        interruptAt100,   ///< one interruption at slice 100
        interruptTwice,   ///< two interruptions at slice 100
        interruptWaiting, ///< an interruption while waiting for a controller
        current,          ///< running the offered firmware already
        claimed,          ///< another update holds the claim on the port
        noMidi,           ///< the MIDI system cannot be opened
        eraseRefused,     ///< the port refuses the erase request
        companyMidStream  ///< Mixxx writes for slices 100 to 110 only
    };

    /** Another program's name as its author chose it: a screen-clearing escape and a bell. */
    const juce::String otherProgram ("Mixxx\x1b[2J\a");

    struct Row
    {
        const char* name;
        juce::StringArray args;
        Setup setup;
        int exitStatus;
        const char* events;    ///< the events in order, runs of progress as one; text rows: none
        const char* says = ""; ///< what the result's message (JSON) or standard error (text) holds
    };

    std::ostream& operator<< (std::ostream& os, const Row& row) { return os << row.name; }

    class CommandRunnerTable : public ::testing::TestWithParam<Row>
    {
    };

    ControllerEmulator::Config configFor (Setup setup)
    {
        auto config = EmulatedController::quickResets();
        if (setup == Setup::offlineAt100)
        {
            config.faults.unplugAfterBursts = 100;
            config.faults.unplugAfterBurstsForMs = -1;
        }
        if (setup == Setup::backWithOld)
            config.versionAfterUpdate = config.version;
        if (setup == Setup::current)
            config.version = config.versionAfterUpdate;
        return config;
    }

#if ! JUCE_WINDOWS
    /** The manual page: it gives each result with its exit status, "confirmed" (0). */
    juce::String manualPage()
    {
        return juce::File (QB4II_CLI_MANUAL).loadFileAsString();
    }
#endif
} // namespace

TEST_P (CommandRunnerTable, ExitsWithItsStatusAndEvents)
{
    const Row& row = GetParam();
    testing_support::UpdaterRig rig { testing_support::UpdaterRig::shortTiming(), configFor (row.setup) };
    rig.engine = nullptr; // the runner makes its own

    const auto port = getAcceptedDevicePortNames()[0];
    if (row.setup == Setup::bootloader)
        rig.emulator.powerUpInBootloader();
    else if (row.setup != Setup::unplugged && row.setup != Setup::interruptWaiting)
        rig.emulator.powerUp();
    if (row.setup == Setup::otherWriter)
        rig.service->setOtherWriters (port, juce::StringArray (otherProgram));
    if (row.setup == Setup::noMidi)
        rig.service->setUnavailable ("the ALSA sequencer cannot be opened: permission denied");
    if (row.setup == Setup::eraseRefused)
        rig.service->setSendRefusal (port, [] (const juce::MemoryBlock& bytes) { return bytes.getSize() == eraseRequestMessage.size(); });
    const auto otherUpdate = row.setup == Setup::claimed ? std::make_unique<PortUpdateLock> (port) : nullptr;

    juce::String error;
    const auto options = CommandLineOptions::parse (row.args, error);
    ASSERT_TRUE (options.has_value()) << error;

    std::ostringstream out, err;
    EventPrinter printer (out, err, options->json ? EventPrinter::Mode::json : options->quiet ? EventPrinter::Mode::quiet
                                                                                              : EventPrinter::Mode::text,
                          false);
    CommandRunner::System system { rig.service, testing_support::UpdaterRig::shortTiming(), FirmwareImage::embedded(), nullptr, 500 };
    int finished = -1;
    CommandRunner runner (*options, system, printer, [&] (int status) { finished = status; });
    runner.start();

    const bool once = row.setup == Setup::interruptAt100 || row.setup == Setup::interruptWaiting;
    const int interrupts = row.setup == Setup::interruptTwice ? 2 : once ? 1
                                                                         : 0;
    if (row.setup == Setup::companyMidStream)
    {
        ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.getBursts().size() >= 100; }));
        rig.service->setOtherWriters (port, juce::StringArray (otherProgram));
        ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.getBursts().size() >= 110; }));
        rig.service->setOtherWriters (port, juce::StringArray());
    }
    if (interrupts > 0)
    {
        if (row.setup != Setup::interruptWaiting)
        {
            ASSERT_TRUE (pumpUntil ([&] { return rig.emulator.getBursts().size() >= 100; }));
        }
        for (int i = 0; i < interrupts; ++i)
            runner.interruptRequested();
    }
    ASSERT_TRUE (pumpUntil ([&] { return finished >= 0; }, 30000)) << out.str();
    EXPECT_EQ (finished, row.exitStatus);
    EXPECT_EQ (runner.getExitStatus(), row.exitStatus);
    EXPECT_EQ (out.str().find ('\x1b') | err.str().find ('\x1b'), std::string::npos) << "a raw escape reached the terminal";

    if (! options->json)
    {
        EXPECT_TRUE (juce::String (err.str()).contains (row.says)) << err.str();
        return;
    }

#if ! JUCE_WINDOWS // the Linux build's own: a strict reader, and the manual page
    // A strict reader takes every line.
    const auto lines = juce::File::createTempFile (".json");
    lines.replaceWithText (out.str());
    juce::ChildProcess python;
    ASSERT_TRUE (python.start (juce::StringArray ("python3", "-c", "import json,sys\nfor l in open(sys.argv[1]): json.loads(l)", lines.getFullPathName())));
    EXPECT_TRUE (python.waitForProcessToFinish (10000));
    EXPECT_EQ (python.getExitCode(), 0u) << python.readAllProcessOutput() << out.str();
    lines.deleteFile();
#endif

    // Every line is one JSON object with its event; the last is the result.
    juce::StringArray events;
    juce::var last;
    for (const auto& line : juce::StringArray::fromLines (juce::String (out.str())))
    {
        if (line.isEmpty())
            continue;
        last = juce::JSON::parse (line);
        ASSERT_TRUE (last.isObject()) << line;
        const auto event = last["event"].toString();
        const auto detail = event == "phase" ? ":" + last["phase"].toString() : event == "result" ? ":" + last["result"].toString()
                                                                                                  : juce::String();
        if (event != "progress" || ! events[events.size() - 1].startsWith ("progress"))
            events.add (event + detail);
    }
    EXPECT_EQ (events.joinIntoString (" "), juce::String (row.events));
    EXPECT_EQ ((int) last["exit"], row.exitStatus);
    EXPECT_TRUE (last["message"].toString().isNotEmpty());
    EXPECT_TRUE (last["message"].toString().contains (row.says)) << last["message"].toString();
#if ! JUCE_WINDOWS
    EXPECT_TRUE (manualPage().contains ("\"" + last["result"].toString() + "\" (" + juce::String (row.exitStatus) + ")"))
        << "the manual page does not give \"" << last["result"].toString() << "\" exit status " << row.exitStatus;
#endif
    EXPECT_EQ (err.str().empty(), row.setup != Setup::interruptAt100 && row.setup != Setup::interruptTwice) << err.str();

    if (row.setup == Setup::otherWriter || row.setup == Setup::unplugged || row.setup == Setup::interruptWaiting || row.setup == Setup::current
        || row.setup == Setup::claimed || row.exitStatus == CommandRunner::noMidi || row.setup == Setup::eraseRefused)
    {
        EXPECT_EQ (rig.emulator.getCounts().eraseRequests, 0) << "something was sent";
    }
    if (row.exitStatus == CommandRunner::done && row.args.contains ("update") && row.setup != Setup::current)
    {
        EXPECT_GE (rig.emulator.getCounts().imagesAccepted, 1);
    }
}

INSTANTIATE_TEST_SUITE_P (
    Commands,
    CommandRunnerTable,
    ::testing::Values (
        Row { "List", { "list", "--json" }, Setup::plugged, 0, "detected result:listed" },
        Row { "ListNoController", { "list", "--json" }, Setup::unplugged, 3, "result:no controller" },
        Row { "ListBootloader", { "list", "--json" }, Setup::bootloader, 0, "detected result:listed" },
        Row { "Version", { "version", "--json" }, Setup::plugged, 0, "detected result:version" },
        Row { "VersionOfAnotherPort", { "version", "--json", "--port", "Korvan QB4 II 2" }, Setup::plugged, 3, "result:no controller" },
        Row { "UpdateConfirmed", { "update", "--json" }, Setup::plugged, 0, "detected phase:erasing phase:sending progress phase:confirming result:confirmed" },
        Row { "EmergencyConfirmed", { "update", "--emergency", "--yes", "--json" }, Setup::bootloader, 0, "detected phase:erasing phase:sending progress phase:confirming result:confirmed" },
        Row { "UpdateNoController", { "update", "--json" }, Setup::unplugged, 3, "result:no controller" },
        Row { "NormalUpdateOfASilentController", { "update", "--json" }, Setup::bootloader, 1, "detected result:no firmware answer" },
        Row { "UpdateInUse", { "update", "--json" }, Setup::otherWriter, 4, "detected result:in use" },
        Row { "OfflineMidStream", { "update", "--json" }, Setup::offlineAt100, 1, "detected phase:erasing phase:sending progress result:offline" },
        Row { "NotConfirmed", { "update", "--json" }, Setup::backWithOld, 5, "detected phase:erasing phase:sending progress phase:confirming result:other version" },
        Row { "OneInterruptionIsRefused", { "update", "--json" }, Setup::interruptAt100, 0, "detected phase:erasing phase:sending progress phase:confirming result:confirmed" },
        Row { "TwoInterruptionsStop", { "update", "--json" }, Setup::interruptTwice, 1, "detected phase:erasing phase:sending progress result:interrupted" },
        Row { "InterruptedBeforeAnythingIsSent", { "update", "--json" }, Setup::interruptWaiting, 1, "result:interrupted" },
        Row { "ForcedUpdateOfASilentController", { "update", "--force", "--json" }, Setup::bootloader, 0, "detected phase:erasing phase:sending progress phase:confirming result:confirmed" },
        Row { "IfNeededWhenCurrent", { "update", "--if-needed", "--json" }, Setup::current, 0, "detected result:current", "nothing was sent" },
        Row { "IfNeededWhenOlder", { "update", "--if-needed", "--json" }, Setup::plugged, 0, "detected phase:erasing phase:sending progress phase:confirming result:confirmed" },
        Row { "VersionWhileAnotherUpdateHoldsIt", { "version", "--json" }, Setup::claimed, 4, "result:busy" },
        Row { "NoMidiSystem", { "list", "--json" }, Setup::noMidi, 6, "result:no midi", "permission denied" },
        Row { "EraseRequestRefused", { "update", "--json" }, Setup::eraseRefused, 1, "detected result:offline", "nothing was sent" },
        Row { "CompanyForTenSlices", { "update", "--json" }, Setup::companyMidStream, 5, "detected phase:erasing phase:sending progress phase:confirming result:disturbed", "Mixxx\\x1b[2J\\x07" },
        Row { "InUseShownEscaped", { "update", "--quiet" }, Setup::otherWriter, 4, "", "Mixxx\\x1b[2J\\x07 writes" }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });

TEST (CommandLineOptions, RefusesWhatIsNotACommandLine)
{
    for (const auto& args : { juce::StringArray(), juce::StringArray ("flash"), juce::StringArray ("list", "version"),
                              juce::StringArray ("version", "--emergency"), juce::StringArray ("update", "--port"),
                              juce::StringArray ("update", "--json", "--quiet"), juce::StringArray ("version", "--force"),
                              juce::StringArray ("update", "--emergency", "--if-needed") })
    {
        juce::String error;
        EXPECT_FALSE (CommandLineOptions::parse (args, error).has_value()) << args.joinIntoString (" ");
        EXPECT_TRUE (error.isNotEmpty());
    }

    juce::String error;
    const auto options = CommandLineOptions::parse ({ "update", "--port=Korvan QB4 II MIDI", "--emergency", "-y" }, error);
    ASSERT_TRUE (options.has_value()) << error;
    EXPECT_EQ (options->port, "Korvan QB4 II MIDI");
    EXPECT_TRUE (options->emergency && options->yes);
}
