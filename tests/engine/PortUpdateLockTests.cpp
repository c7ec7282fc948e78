#include "engine/PortUpdateLock.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

// What another program or user can leave at the lock's name. None of it may
// make the claim follow a link, block, or be granted without a lock of its own.
TEST (PortUpdateLockTests, AClaimIsTakenOnlyOnAFileOfTheUsersOwnAtTheName)
{
    const juce::String port ("Korvan QB4 II");
    const juce::TemporaryFile folderFile ("qb4ii-lock-cases");
    const auto folder = folderFile.getFile();
    const auto path = folder.getChildFile (PortUpdateLock::lockFileNameFor (port));
    const auto target = folder.getChildFile ("target");

    struct Row
    {
        const char* name;
        std::function<void()> plant;
        bool held;
        const char* failure; // part of getFailure(), or "" for none
    };
    std::unique_ptr<PortUpdateLock> other;
    const Row rows[] = {
        { "nothing there", [] {}, true, "" },
        { "another update's claim", [&] { other = std::make_unique<PortUpdateLock> (port); }, false, "" },
        { "a symbolic link", [&] { ASSERT_EQ (symlink (target.getFullPathName().toRawUTF8(), path.getFullPathName().toRawUTF8()), 0); }, false, "is a symbolic link" },
        { "a FIFO", [&] { ASSERT_EQ (mkfifo (path.getFullPathName().toRawUTF8(), 0600), 0); }, false, "is not a regular file" },
        { "a hard link", [&] { target.create(); ASSERT_EQ (link (target.getFullPathName().toRawUTF8(), path.getFullPathName().toRawUTF8()), 0); }, false, "hard links" },
        { "another user's file", [&] { path.create(); ASSERT_EQ (chown (path.getFullPathName().toRawUTF8(), 65534, 65534), 0); }, false, "belongs to another user" },
        { "no folder", [&] { folder.deleteRecursively(); }, false, "cannot be opened" },
    };

    const auto testFolder = PortUpdateLock::getLockFolder();
    PortUpdateLock::setLockFolder (folder);

    for (const auto& row : rows)
    {
        SCOPED_TRACE (row.name);
        folder.deleteRecursively();
        folder.createDirectory();

        if (juce::String (row.name) == "another user's file" && geteuid() != 0)
            continue; // only root can give a file away

        row.plant();
        const auto start = std::chrono::steady_clock::now();
        const PortUpdateLock claim (port, 100);

        EXPECT_EQ (claim.isHeld(), row.held);
        EXPECT_TRUE (claim.getFailure().contains (row.failure)) << claim.getFailure();
        EXPECT_EQ (claim.getFailure().isEmpty(), juce::String (row.failure).isEmpty()) << claim.getFailure();
        EXPECT_EQ (PortUpdateLock::isClaimed (port), juce::String (row.failure).isEmpty()) << "by this claim or the other";
        EXPECT_FALSE (target.existsAsFile() && target.getSize() != 0) << "the claim wrote through what was planted";
        EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::seconds (2)) << "the claim waited on what was planted";
        other.reset();
    }

    // The name is the same in every build and locale: ASCII, and a fixed hash
    // of the UTF-8 bytes (FNV-1a).
    PortUpdateLock::setLockFolder (testFolder);
    EXPECT_EQ (PortUpdateLock::lockFileNameFor (juce::String::fromUTF8 ("Korvan QB4 II \xc3\xa9")), "qb4ii-update-Korvan_QB4_II__-b1e7e7c5841c4303.lock");
}
#endif
