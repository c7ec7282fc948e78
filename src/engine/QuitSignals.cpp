#include "engine/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <atomic>

#if JUCE_LINUX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{
    // The write end of the pipe, for the handler; -1 while none is installed.
    volatile sig_atomic_t signalPipeWriteEnd = -1;

    void writeToSignalPipe (int)
    {
        const int savedErrno = errno;
        const char byte = 1;
        // A full pipe already holds a request: losing this byte loses nothing.
        [[maybe_unused]] const auto written = ::write (signalPipeWriteEnd, &byte, 1);
        errno = savedErrno;
    }
} // namespace

struct QuitSignals::Pimpl
{
    int fds[2] { -1, -1 };
    struct sigaction previousInt
    {
    }, previousTerm {};
};

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
{
    jassert (signalPipeWriteEnd == -1); // one instance at a time

    auto p = std::make_unique<Pimpl>();

    if (::pipe2 (p->fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;

    const int readEnd = p->fds[0];
    juce::LinuxEventLoop::registerFdCallback (readEnd, [readEnd, callback = std::move (onQuitRequested)] (int) {
        char bytes[64];
        while (::read (readEnd, bytes, sizeof (bytes)) > 0)
        {
        }

        if (callback)
            callback();
    });

    signalPipeWriteEnd = p->fds[1];

    struct sigaction action
    {
    };
    action.sa_handler = writeToSignalPipe;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction (SIGINT, &action, &p->previousInt);
    ::sigaction (SIGTERM, &action, &p->previousTerm);

    pimpl = std::move (p);
}

QuitSignals::~QuitSignals()
{
    if (pimpl == nullptr)
        return;

    ::sigaction (SIGINT, &pimpl->previousInt, nullptr);
    ::sigaction (SIGTERM, &pimpl->previousTerm, nullptr);
    signalPipeWriteEnd = -1;

    juce::LinuxEventLoop::unregisterFdCallback (pimpl->fds[0]);
    ::close (pimpl->fds[0]);
    ::close (pimpl->fds[1]);
}

#elif JUCE_WINDOWS
#include <windows.h>

namespace
{
    // The callback of the instance installed; null while none is.
    std::atomic<const std::function<void()>*> consoleCallback { nullptr };

    // Runs on a thread the console starts for the event.
    BOOL WINAPI onConsoleControl (DWORD event)
    {
        const auto* callback = consoleCallback.load();

        if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || callback == nullptr)
            return FALSE;

        juce::MessageManager::callAsync ([callback] {
            if (consoleCallback.load() == callback && *callback)
                (*callback)();
        });
        return TRUE;
    }
} // namespace

struct QuitSignals::Pimpl
{
    std::function<void()> callback;
};

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
    : pimpl (std::make_unique<Pimpl> (Pimpl { std::move (onQuitRequested) }))
{
    jassert (consoleCallback.load() == nullptr); // one instance at a time
    consoleCallback = &pimpl->callback;
    ::SetConsoleCtrlHandler (onConsoleControl, TRUE);
}

QuitSignals::~QuitSignals()
{
    ::SetConsoleCtrlHandler (onConsoleControl, FALSE);
    consoleCallback = nullptr;
}

#else

struct QuitSignals::Pimpl
{
};

QuitSignals::QuitSignals (std::function<void()>) {}
QuitSignals::~QuitSignals() = default;

#endif
