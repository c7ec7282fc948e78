#include "firmware/DeviceMessages.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

namespace
{
    struct Run
    {
        bool started = false;
        int exitCode = -1;
        juce::String output;
    };

    Run runTool (const juce::StringArray& arguments)
    {
        Run run;
        juce::ChildProcess process;
        run.started = process.start (arguments, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr);

        if (run.started)
        {
            run.output = process.readAllProcessOutput();
            process.waitForProcessToFinish (30000);
            // On Windows the read stops once the pipe looks empty and the child has
            // ended, which can happen before its last write is seen: read what came.
            run.output += process.readAllProcessOutput();
            run.exitCode = (int) process.getExitCode();
        }

        return run;
    }

    const juce::File packer (QB4II_FIRMWARE_PACKER);
} // namespace

TEST (FirmwarePackerTool, ChecksAndPacksTheOfferedFile)
{
    const juce::File hex (QB4II_FIRMWARE_HEX);

    const auto check = runTool ({ packer.getFullPathName(), "--check", hex.getFullPathName() });
    ASSERT_TRUE (check.started);
    EXPECT_EQ (check.exitCode, 0) << check.output;
    EXPECT_TRUE (check.output.contains ("OK")) << check.output;

    const juce::TemporaryFile syx (".syx");
    const auto pack = runTool ({ packer.getFullPathName(), hex.getFullPathName(), "-o", syx.getFile().getFullPathName() });
    ASSERT_TRUE (pack.started);
    EXPECT_EQ (pack.exitCode, 0) << pack.output;

    juce::MemoryBlock packed;
    ASSERT_TRUE (syx.getFile().loadFileAsData (packed));
    EXPECT_EQ (packed, juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize));
}

TEST (FirmwarePackerTool, RejectsAMalformedFileNamingFileLineAndReasonAndWritesNothing)
{
    const juce::TemporaryFile hex (".hex");
    ASSERT_TRUE (hex.getFile().replaceWithText (":020000040800F2\r\n"
                                                ":1040000000500020ED400008C3400008C5400008F4\r\n"
                                                ":00000001FF\r\n",
                                                false, false, nullptr));

    // A stale output from an earlier run must not survive a rejection.
    const juce::TemporaryFile syx (".syx");
    ASSERT_TRUE (syx.getFile().replaceWithText ("stale"));

    const auto run = runTool ({ packer.getFullPathName(), hex.getFile().getFullPathName(), "-o", syx.getFile().getFullPathName() });
    ASSERT_TRUE (run.started);
    EXPECT_EQ (run.exitCode, 1);
    EXPECT_TRUE (run.output.contains (hex.getFile().getFullPathName() + ":2: error: checksum is 0xF4")) << run.output;
    EXPECT_FALSE (syx.getFile().exists());

    const auto check = runTool ({ packer.getFullPathName(), "--check", hex.getFile().getFullPathName() });
    EXPECT_EQ (check.exitCode, 1);
    EXPECT_TRUE (check.output.contains (":2: error: checksum")) << check.output;
}

TEST (FirmwarePackerTool, UsageErrorsAreNotMistakenForSuccess)
{
    EXPECT_EQ (runTool ({ packer.getFullPathName() }).exitCode, 2);
    EXPECT_EQ (runTool ({ packer.getFullPathName(), "--check" }).exitCode, 2);
    EXPECT_EQ (runTool ({ packer.getFullPathName(), "file.hex" }).exitCode, 2);
    EXPECT_EQ (runTool ({ packer.getFullPathName(), "--check", "/nonexistent/firmware.hex" }).exitCode, 1);
}

TEST (PlaceholderFirmwareGenerator, WritesExactlyTheCommittedFile)
{
#ifdef QB4II_FIRMWARE_GENERATOR
    const juce::TemporaryFile out (".hex");
    const auto run = runTool ({ QB4II_FIRMWARE_GENERATOR, out.getFile().getFullPathName() });
    ASSERT_TRUE (run.started);
    ASSERT_EQ (run.exitCode, 0) << run.output;

    juce::MemoryBlock generated, committed;
    ASSERT_TRUE (out.getFile().loadFileAsData (generated));
    ASSERT_TRUE (juce::File (QB4II_PLACEHOLDER_FIRMWARE_HEX).loadFileAsData (committed));
    EXPECT_TRUE (generated == committed) << "regenerate with the qb4ii_regenerate_placeholder_firmware target";
#else
    GTEST_SKIP() << "the generator is built only with QB4II_BUILD_TOOLS";
#endif
}
