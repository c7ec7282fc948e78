#include "engine/QuitSignals.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <iterator>

#if JUCE_LINUX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace
{
    // SIGHUP too: a closed terminal or a lost session ends the program as a
    // logout does, through the same rule.
    constexpr int quitSignals[] = { SIGINT, SIGTERM, SIGHUP };

    // The pipe, made once and kept open until the process ends: a handler still
    // running on another thread while an instance goes can never write into a
    // descriptor that was closed and reused. -1 until made.
    int signalPipe[2] { -1, -1 };
    volatile sig_atomic_t signalPipeWriteEnd = -1;

    // Async-signal-safe: one write(2), errno kept.
    void writeToSignalPipe (int)
    {
        const int savedErrno = errno;
        const char byte = 1;
        // A full pipe already holds a request: losing this byte loses nothing.
        [[maybe_unused]] const auto written = ::write (signalPipeWriteEnd, &byte, 1);
        errno = savedErrno;
    }

    void drain (int readEnd)
    {
        char bytes[64];
        while (::read (readEnd, bytes, sizeof (bytes)) > 0)
        {
        }
    }
} // namespace

struct QuitSignals::Pimpl
{
    struct sigaction previous[std::size (quitSignals)] {};
};

void QuitSignals::ignoreBrokenPipes()
{
    struct sigaction action
    {
    };
    action.sa_handler = [] (int) {};
    action.sa_flags = SA_RESTART;
    sigemptyset (&action.sa_mask);
    ::sigaction (SIGPIPE, &action, nullptr);
}

QuitSignals::QuitSignals (std::function<void()> onQuitRequested)
{
    // Close-on-exec, so that no program this one starts inherits it, and
    // non-blocking, so that neither the handler nor the reader can stall.
    if (signalPipe[0] < 0 && ::pipe2 (signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        std::cerr << "QB4II Firmware Updater: cannot catch SIGINT, SIGTERM or SIGHUP (" << std::strerror (errno)
                  << "): they would end the program at once, even during an update\n";
        return;
    }

    const int readEnd = signalPipe[0];
    drain (readEnd); // a signal an earlier instance left is not this one's
    juce::LinuxEventLoop::registerFdCallback (readEnd, [readEnd, callback = std::move (onQuitRequested)] (int) {
        drain (readEnd);

        if (callback)
            callback();
    });

    signalPipeWriteEnd = signalPipe[1];

    auto p = std::make_unique<Pimpl>();
    struct sigaction action
    {
    };
    action.sa_handler = writeToSignalPipe;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;

    for (size_t i = 0; i < std::size (quitSignals); ++i)
        ::sigaction (quitSignals[i], &action, &p->previous[i]);

    pimpl = std::move (p);
}

QuitSignals::~QuitSignals()
{
    if (pimpl == nullptr)
        return;

    for (size_t i = 0; i < std::size (quitSignals); ++i)
        ::sigaction (quitSignals[i], &pimpl->previous[i], nullptr);

    juce::LinuxEventLoop::unregisterFdCallback (signalPipe[0]);
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

void QuitSignals::ignoreBrokenPipes() {} // Windows has no SIGPIPE: a failed write only fails

#else

struct QuitSignals::Pimpl
{
};

QuitSignals::QuitSignals (std::function<void()>) {}
QuitSignals::~QuitSignals() = default;
void QuitSignals::ignoreBrokenPipes() {}

#endif
