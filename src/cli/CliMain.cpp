// qb4ii-update: the updater from a terminal. JUCE's message loop runs without a
// window, so the program needs no display.

#include "ProductInfo.h"
#include "cli/CommandRunner.h"
#include "engine/ChildDescriptors.h"
#include "engine/QuitSignals.h"
#include "firmware/EmergencyInstructions.h"

#include <iostream>
#include <string>

#if JUCE_WINDOWS
#include <io.h>
#define QB4II_STDERR_IS_TERMINAL() (_isatty (_fileno (stderr)) != 0)
#else
#include <csignal>
#include <unistd.h>
#define QB4II_STDERR_IS_TERMINAL() (::isatty (STDERR_FILENO) != 0)
#endif

namespace
{
    /** The emergency question, before anything starts: Enter goes on. Ctrl+C
        there ends the program with nothing sent (failed), as any interruption
        before the erase request does; the end of input is a usage error: a
        script answers with --yes. */
    int askBeforeEmergency()
    {
        std::cerr << emergencyInstructions << "\n\nPress Enter here once FX1 is lit (Ctrl+C stops; nothing has been sent).\n";

#if ! JUCE_WINDOWS
        // No SA_RESTART: the signal ends the read, and the flag tells it from the end of input.
        static volatile std::sig_atomic_t interrupted = 0;
        struct sigaction action
        {
        }, previous {};
        action.sa_handler = [] (int) { interrupted = 1; };
        sigemptyset (&action.sa_mask);
        ::sigaction (SIGINT, &action, &previous);
#else
        constexpr bool interrupted = false;
#endif

        std::string line;
        const bool answered = static_cast<bool> (std::getline (std::cin, line));

#if ! JUCE_WINDOWS
        ::sigaction (SIGINT, &previous, nullptr);
#endif

        if (interrupted)
        {
            std::cerr << "\nqb4ii-update: interrupted: nothing was sent.\n";
            return CommandRunner::failed;
        }

        if (! answered)
        {
            std::cerr << "qb4ii-update: no answer on standard input, so nothing was sent (--yes leaves the question out)\n";
            return CommandRunner::usageError;
        }

        return CommandRunner::done;
    }
} // namespace

int main (int argc, char* argv[])
{
    // Before anything is written: a reader that goes must not end an update.
    QuitSignals::ignoreBrokenPipes();

    juce::StringArray args;

    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));

    juce::String error;
    const auto options = CommandLineOptions::parse (args, error);

    if (! options)
    {
        std::cerr << "qb4ii-update: " << error << "\nqb4ii-update --help lists the commands and options.\n";
        return CommandRunner::usageError;
    }

    if (options->help)
    {
        std::cout << CommandLineOptions::getUsage();
        return CommandRunner::done;
    }

    if (options->showVersion)
    {
        std::cout << "qb4ii-update " << ProductInfo::version << ", offering QB4 II firmware "
                  << FirmwareImage::embedded().getVersion() << "\n";
        return CommandRunner::done;
    }

    // Asked before anything starts: Ctrl+C here ends the program with nothing sent.
    if (options->emergency && ! options->yes)
        if (const auto answer = askBeforeEmergency(); answer != CommandRunner::done)
            return answer;

    const juce::ScopedJuceInitialiser_GUI framework;
    ChildDescriptors::closeAllOnExec();
    int status = CommandRunner::failed;

    {
        EventPrinter printer (std::cout, std::cerr,
                              options->json ? EventPrinter::Mode::json : options->quiet ? EventPrinter::Mode::quiet
                                                                                        : EventPrinter::Mode::text,
                              QB4II_STDERR_IS_TERMINAL());

        CommandRunner::System system;
        system.midi = MidiService::createPlatformService();
        system.createSleepInhibitor = [] { return SleepInhibitor::createForPlatform(); };

        CommandRunner runner (*options, std::move (system), printer, [&status] (int s) {
            status = s;
            juce::MessageManager::getInstance()->stopDispatchLoop();
        });

        // After the framework's own Ctrl+C handler, which it replaces.
        const QuitSignals signals ([&runner] { runner.interruptRequested(); });

        runner.start();
        juce::MessageManager::getInstance()->runDispatchLoop();
    }

    return status;
}
