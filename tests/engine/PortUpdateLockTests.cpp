#include "engine/PortUpdateLock.h"

#include <gtest/gtest.h>

#if ! JUCE_WINDOWS

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

// What another program or user can leave at the lock's name, and the failure
// ("": none). None may make the claim follow a link, block or go ahead unlocked.
TEST (PortUpdateLockTests, AClaimIsTakenOnlyOnAFileOfTheUsersOwnAtTheName)
{
    const juce::String port ("Korvan QB4 II");
    const juce::TemporaryFile folderFile ("qb4ii-lock-cases");
    const auto folder = folderFile.getFile();
    const auto path = folder.getChildFile (PortUpdateLock::lockFileNameFor (port)).getFullPathName().toStdString();
    const auto target = folder.getChildFile ("target").getFullPathName().toStdString();
    std::unique_ptr<PortUpdateLock> other;
    const auto create = [] (const std::string& file) { return juce::File (file).create().wasOk(); };

    const std::pair<std::function<void()>, const char*> rows[] = {
        { [] {}, "" },
        { [&] { other = std::make_unique<PortUpdateLock> (port); }, "" },
        { [&] { EXPECT_EQ (symlink (target.c_str(), path.c_str()), 0); }, "is a symbolic link" },
        { [&] { EXPECT_EQ (mkfifo (path.c_str(), 0600), 0); }, "is not a regular file" },
        { [&] { EXPECT_TRUE (create (target) && link (target.c_str(), path.c_str()) == 0); }, "hard links" },
        { [&] { EXPECT_TRUE (create (path) && (chown (path.c_str(), 65534, 65534) == 0 || geteuid() != 0)); }, geteuid() == 0 ? "belongs to another user" : "" },
        { [&] { juce::File (folder).deleteRecursively(); }, "cannot be opened" },
    };

    const auto testFolder = PortUpdateLock::getLockFolder();
    PortUpdateLock::setLockFolder (folder);

    for (const auto& [plant, failure] : rows)
    {
        SCOPED_TRACE (failure);
        folder.deleteRecursively();
        folder.createDirectory();
        plant();

        const PortUpdateLock claim (port, 100);
        EXPECT_EQ (claim.isHeld(), *failure == 0 && other == nullptr);
        EXPECT_TRUE (claim.getFailure().contains (failure) && claim.getFailure().isEmpty() == (*failure == 0)) << claim.getFailure();
        EXPECT_EQ (PortUpdateLock::isClaimed (port), *failure == 0) << "by this claim or the other";
        other.reset();
    }

    // The name is the same in every build and locale: ASCII, and a fixed hash
    // of the UTF-8 bytes (FNV-1a).
    PortUpdateLock::setLockFolder (testFolder);
    EXPECT_EQ (PortUpdateLock::lockFileNameFor (juce::String::fromUTF8 ("Korvan QB4 II \xc3\xa9")), "qb4ii-update-Korvan_QB4_II__-b1e7e7c5841c4303.lock");
}
#endif
