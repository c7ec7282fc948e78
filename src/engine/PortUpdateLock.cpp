#include "engine/PortUpdateLock.h"

#include <mutex>
#include <optional>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
    std::mutex lockFolderLock;
    juce::File chosenFolder; // setLockFolder()'s, or none

#if ! JUCE_WINDOWS
    juce::String describeError (int error)
    {
        return juce::String (std::strerror (error)).toLowerCase();
    }

    /** The folder for the claims of the user with this uid: the session's
        $XDG_RUNTIME_DIR when it is a private folder of theirs (for another user
        than this process's, /run/user/UID), else /tmp/qb4ii-update-UID, made
        private and theirs. Sets problem instead when that one cannot be
        trusted: another user may have made it first. */
    juce::File userLockFolder (uid_t uid, juce::String& problem)
    {
        const auto isPrivateFolder = [uid] (const struct stat& st) {
            return S_ISDIR (st.st_mode) && st.st_uid == uid && (st.st_mode & 077) == 0;
        };
        struct stat st
        {
        };

        const auto* runtime = std::getenv ("XDG_RUNTIME_DIR");
        const auto runtimePath = uid == ::geteuid() ? juce::String (runtime != nullptr && runtime[0] == '/' ? runtime : "")
                                                    : "/run/user/" + juce::String ((juce::int64) uid);

        if (runtimePath.isNotEmpty() && ::lstat (runtimePath.toRawUTF8(), &st) == 0 && isPrivateFolder (st))
            return juce::File (runtimePath);

        const auto path = "/tmp/qb4ii-update-" + juce::String ((juce::int64) uid);
        const bool made = ::mkdir (path.toRawUTF8(), 0700) == 0;
        const int mkdirError = errno;

        // Made by root for the user who ran sudo: theirs, as their own updater makes it.
        if (made && uid != ::geteuid() && ::lchown (path.toRawUTF8(), uid, (gid_t) -1) != 0)
            ::rmdir (path.toRawUTF8());

        if (::lstat (path.toRawUTF8(), &st) != 0)
            problem = "the folder " + path + " cannot be made: " + describeError (made ? errno : mkdirError);
        else if (st.st_uid != uid)
            problem = path + " belongs to another user";
        else if (! isPrivateFolder (st))
            problem = path + " is not a folder of yours alone";

        return problem.isEmpty() ? juce::File (path) : juce::File();
    }

    /** Under sudo, the user who ran it: an update as root must also respect,
        and hold, that user's own claims. None otherwise. */
    std::optional<uid_t> sudoUser()
    {
        const auto* text = std::getenv ("SUDO_UID");

        if (::geteuid() != 0 || text == nullptr)
            return std::nullopt;

        const auto uid = juce::String (text).getLargeIntValue();
        const bool valid = juce::String (text).containsOnly ("0123456789") && uid > 0 && uid < (juce::int64) (uid_t) -1;
        return valid ? std::optional<uid_t> ((uid_t) uid) : std::nullopt;
    }
#endif
} // namespace

void PortUpdateLock::setLockFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> sl (lockFolderLock);
    chosenFolder = folder;
}

juce::File PortUpdateLock::getLockFolder()
{
    const std::lock_guard<std::mutex> sl (lockFolderLock);
    return chosenFolder;
}

PortUpdateLock::PortUpdateLock (const juce::String& name, int waitMs)
    : portName (name)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + waitMs;

    // Only another update's claim is worth waiting for.
    while (! tryClaim() && failure.isEmpty() && juce::Time::getMillisecondCounterHiRes() < deadline)
        juce::Thread::sleep (10);
}

bool PortUpdateLock::refuse (const juce::String& why)
{
    failure = why;
    return held = false;
}

#if JUCE_WINDOWS
PortUpdateLock::~PortUpdateLock()
{
    // Closing the handle releases the claim.
    if (file != nullptr)
        CloseHandle (file);
}

bool PortUpdateLock::tryClaim()
{
    failure.clear();

    if (file != nullptr)
        return held = true;

    // The user's temporary folder is theirs alone: other users can neither
    // create nor open files in it.
    juce::File folder;
    {
        const std::lock_guard<std::mutex> sl (lockFolderLock);
        folder = chosenFolder != juce::File() ? chosenFolder : juce::File::getSpecialLocation (juce::File::tempDirectory);
    }
    const auto path = folder.getChildFile (lockFileNameFor (portName)).getFullPathName();

    // Opened without sharing: while this handle is open, every other open of the
    // file, in this process or another, fails with a sharing violation. A link
    // planted at the name is opened as itself, and refused below.
    const auto handle = CreateFileW (path.toWideCharPointer(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);

    if (handle == INVALID_HANDLE_VALUE)
    {
        const auto error = GetLastError();
        return error == ERROR_SHARING_VIOLATION ? (held = false)
                                                : refuse ("the lock file " + path + " cannot be opened (Windows error " + juce::String ((int) error) + ")");
    }

    BY_HANDLE_FILE_INFORMATION info {};

    if (GetFileType (handle) != FILE_TYPE_DISK || ! GetFileInformationByHandle (handle, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 || info.nNumberOfLinks != 1)
    {
        CloseHandle (handle);
        return refuse ("the lock file " + path + " is not a plain file");
    }

    file = handle;
    return held = true;
}
#else
PortUpdateLock::~PortUpdateLock()
{
    // Closing the descriptors releases the locks.
    for (const int f : { fd, sudoUserFd })
        if (f >= 0)
            ::close (f);
}

bool PortUpdateLock::tryClaim()
{
    failure.clear();

    juce::String path, sudoUserPath;
    std::optional<uid_t> onBehalfOf;
    {
        const std::lock_guard<std::mutex> sl (lockFolderLock);
        auto folder = chosenFolder;

        if (folder == juce::File())
        {
            juce::String problem;
            folder = userLockFolder (::geteuid(), problem);

            if (problem.isEmpty() && (onBehalfOf = sudoUser()))
                sudoUserPath = userLockFolder (*onBehalfOf, problem).getChildFile (lockFileNameFor (portName)).getFullPathName();

            if (problem.isNotEmpty())
                return refuse (problem);
        }

        path = folder.getChildFile (lockFileNameFor (portName)).getFullPathName();
    }

    if (fd < 0 && ! claimFile (path, ::geteuid(), fd))
        return held = false;

    if (onBehalfOf.has_value() && sudoUserFd < 0 && ! claimFile (sudoUserPath, *onBehalfOf, sudoUserFd))
        return held = false;

    return held = true;
}

bool PortUpdateLock::claimFile (const juce::String& path, uid_t owner, int& claimed)
{
    // A file removed or replaced between the open and the lock would be a claim
    // no other updater sees: the file must still be the one at the name once
    // locked, or the claim is tried again.
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        // Never through a symbolic link, never waiting on a FIFO or a device, and
        // never taking a terminal.
        const int f = ::open (path.toRawUTF8(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);

        if (f < 0)
            return refuse (errno == ELOOP ? "the lock file " + path + " is a symbolic link"
                                          : "the lock file " + path + " cannot be opened: " + describeError (errno));

        struct stat opened
        {
        };
        const auto refuseOpened = [&] (const juce::String& why) {
            ::close (f);
            return refuse ("the lock file " + path + " " + why);
        };

        // Root, making the claim of the user who ran sudo, gives that user the file
        // it made, so that their own updater trusts it.
        if (::fstat (f, &opened) == 0 && owner != ::geteuid() && opened.st_uid == ::geteuid() && S_ISREG (opened.st_mode)
            && opened.st_nlink == 1 && ::fchown (f, owner, (gid_t) -1) == 0)
            ::fstat (f, &opened);

        if (::fstat (f, &opened) != 0 || ! S_ISREG (opened.st_mode))
            return refuseOpened ("is not a regular file");
        if (opened.st_uid != owner)
            return refuseOpened ("belongs to another user");
        if (opened.st_nlink != 1)
            return refuseOpened ("has other names (hard links)");

        if (::flock (f, LOCK_EX | LOCK_NB) != 0)
        {
            // Each open file description locks on its own: a second claim in this
            // process is refused as another process's would be.
            if (errno == EWOULDBLOCK)
            {
                ::close (f);
                return false;
            }

            return refuseOpened ("cannot be locked: " + describeError (errno));
        }

        struct stat named
        {
        };

        if (::lstat (path.toRawUTF8(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        {
            claimed = f;
            return true;
        }

        ::close (f);
    }

    return refuse ("the lock file " + path + " keeps being replaced");
}
#endif

bool PortUpdateLock::isClaimed (const juce::String& portName)
{
    const PortUpdateLock probe (portName);
    return ! probe.isHeld() && probe.getFailure().isEmpty();
}

juce::String PortUpdateLock::lockFileNameFor (const juce::String& portName)
{
    juce::String readable;

    for (auto c : portName)
    {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        readable << (plain ? juce::String::charToString (c) : juce::String ("_"));
    }

    // The readable part may be shared by names that differ only in punctuation:
    // a 64-bit FNV-1a hash of the name's UTF-8 bytes tells them apart.
    juce::uint64 hash = 0xcbf29ce484222325ull;

    for (const auto* byte = portName.toRawUTF8(); *byte != 0; ++byte)
        hash = (hash ^ (juce::uint8) *byte) * 0x100000001b3ull;

    return "qb4ii-update-" + readable.substring (0, 64) + "-" + juce::String::toHexString ((juce::int64) hash).paddedLeft ('0', 16) + ".lock";
}
