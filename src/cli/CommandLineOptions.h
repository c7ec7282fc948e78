#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/**
    What qb4ii-update was asked to do: its command and options, read from the
    arguments that follow the program's name.

    Pure: any thread.
*/
struct CommandLineOptions
{
    enum class Command
    {
        none, ///< only --help or --version
        list,
        version,
        update
    };

    Command command = Command::none;
    bool emergency = false;   ///< update --emergency
    bool yes = false;         ///< --yes: no question before an emergency update
    bool force = false;       ///< update --force: the normal update although the firmware does not answer
    bool ifNeeded = false;    ///< update --if-needed: nothing when the controller runs the offered version
    bool json = false;        ///< --json: one JSON object a line, per event
    bool quiet = false;       ///< --quiet: errors only
    bool help = false;        ///< --help
    bool showVersion = false; ///< --version
    juce::String port;        ///< --port NAME; empty: the controller found

    /** The options, or nothing with the reason in `error` (a usage error). */
    static std::optional<CommandLineOptions> parse (const juce::StringArray& args, juce::String& error);

    /** The --help text. */
    static juce::String getUsage();
};
