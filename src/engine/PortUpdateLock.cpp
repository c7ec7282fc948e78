#include "engine/PortUpdateLock.h"

#include <cerrno>
#include <mutex>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    std::mutex lockFolderLock;

    juce::File& lockFolder()
    {
        static juce::File folder ("/tmp");
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
