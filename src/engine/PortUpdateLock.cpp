#include "engine/PortUpdateLock.h"

#include <mutex>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
    std::mutex lockFolderLock;

    juce::File& lockFolder()
    {
#if JUCE_WINDOWS
        static juce::File folder (juce::File::getSpecialLocation (juce::File::tempDirectory));
#else
        static juce::File folder ("/tmp");
#endif
        return folder;
    }
} // namespace

void PortUpdateLock::setLockFolder (const juce::File& folder)
{
    const std::lock_guard<std::mutex> sl (lockFolderLock);
    lockFolder() = folder;
}

PortUpdateLock::PortUpdateLock (const juce::String& name, int waitMs)
    : portName (name)
{
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + waitMs;

    while (! tryClaim() && juce::Time::getMillisecondCounterHiRes() < deadline)
        juce::Thread::sleep (10);
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
    if (file != nullptr)
        return held = true;

    juce::String path;
    {
        const std::lock_guard<std::mutex> sl (lockFolderLock);
        path = lockFolder().getChildFile (lockFileNameFor (portName)).getFullPathName();
    }

    // Opened without sharing: while this handle is open, every other open of the
    // file, in this process or another, fails with a sharing violation.
    const auto handle = CreateFileW (path.toWideCharPointer(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);

    if (handle != INVALID_HANDLE_VALUE)
    {
        file = handle;
        return held = true;
    }

    // A file nobody can open does not stop updates.
    held = GetLastError() != ERROR_SHARING_VIOLATION;
    return held;
}
#else
PortUpdateLock::~PortUpdateLock()
{
    // Closing the descriptor releases the lock.
    if (fd >= 0)
        ::close (fd);
}

bool PortUpdateLock::tryClaim()
{
    juce::String path;
    {
        const std::lock_guard<std::mutex> sl (lockFolderLock);
        path = lockFolder().getChildFile (lockFileNameFor (portName)).getFullPathName();
    }

    // Another user's file in the sticky /tmp cannot be opened with O_CREAT (the
    // kernel protects regular files there), but it can be opened as it is, and a
    // lock needs no write access.
    if (fd < 0)
        fd = ::open (path.toRawUTF8(), O_RDONLY | O_CLOEXEC);

    if (fd < 0 && errno == ENOENT)
    {
        // Readable by every user whatever the umask, so that theirs can lock it too.
        fd = ::open (path.toRawUTF8(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::fchmod (fd, 0644);
    }

    if (fd < 0 && errno == EEXIST)
        fd = ::open (path.toRawUTF8(), O_RDONLY | O_CLOEXEC);

    if (fd < 0)
    {
        held = true;
        return true;
    }

    // Each open file description locks on its own: a second claim in this process
    // is refused as another process's would be.
    held = ::flock (fd, LOCK_EX | LOCK_NB) == 0;
    return held;
}
#endif

bool PortUpdateLock::isClaimed (const juce::String& portName)
{
    const PortUpdateLock probe (portName);
    return ! probe.isHeld();
}

juce::String PortUpdateLock::lockFileNameFor (const juce::String& portName)
{
    juce::String readable;

    for (auto c : portName)
        readable << (juce::CharacterFunctions::isLetterOrDigit (c) ? juce::String::charToString (c) : juce::String ("_"));

    // The readable part may be shared by names that differ only in punctuation.
    return "qb4ii-update-" + readable.substring (0, 64) + "-"
           + juce::String::toHexString ((juce::int64) portName.hashCode64()) + ".lock";
}
