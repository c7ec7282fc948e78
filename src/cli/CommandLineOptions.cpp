#include "cli/CommandLineOptions.h"

std::optional<CommandLineOptions> CommandLineOptions::parse (const juce::StringArray& args, juce::String& error)
{
    CommandLineOptions options;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];

        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--version")
            options.showVersion = true;
        else if (arg == "--json")
            options.json = true;
        else if (arg == "--quiet" || arg == "-q")
            options.quiet = true;
        else if (arg == "--yes" || arg == "-y")
            options.yes = true;
        else if (arg == "--emergency")
            options.emergency = true;
        else if (arg == "--force")
            options.force = true;
        else if (arg == "--if-needed")
            options.ifNeeded = true;
        else if (arg == "--port" || arg.startsWith ("--port="))
        {
            options.port = arg == "--port" ? (i + 1 < args.size() ? args[++i] : juce::String()) : arg.fromFirstOccurrenceOf ("=", false, false);

            if (options.port.isEmpty())
            {
                error = "--port needs the name of a controller port (see qb4ii-update list)";
                return std::nullopt;
            }
        }
        else if (arg.startsWith ("-"))
        {
            error = "unknown option " + arg;
            return std::nullopt;
        }
        else if (options.command != Command::none)
        {
            error = "one command at a time, not also " + arg;
            return std::nullopt;
        }
        else if (arg == "list")
            options.command = Command::list;
        else if (arg == "version")
            options.command = Command::version;
        else if (arg == "update")
            options.command = Command::update;
        else
        {
            error = "unknown command " + arg;
            return std::nullopt;
        }
    }

    if (options.help || options.showVersion)
        return options;

    if (options.command == Command::none)
        error = "a command is needed: list, version or update";
    else if ((options.emergency || options.yes || options.force || options.ifNeeded) && options.command != Command::update)
        error = juce::String (options.emergency ? "--emergency" : options.yes ? "--yes"
                                                              : options.force ? "--force"
                                                                              : "--if-needed")
                + " belongs to update";
    else if (options.emergency && (options.force || options.ifNeeded))
        error = juce::String (options.force ? "--force" : "--if-needed") + " belongs to the normal update, not to --emergency";
    else if (options.json && options.quiet)
        error = "--json and --quiet exclude each other";

    if (error.isNotEmpty())
        return std::nullopt;

    return options;
}

juce::String CommandLineOptions::getUsage()
{
    return "Usage: qb4ii-update COMMAND [OPTIONS]\n"
           "\n"
           "Commands:\n"
           "  list                  each controller port found, its form and firmware version\n"
           "  version               the controller's firmware version, and the version offered\n"
           "  update                writes the offered firmware and waits for the controller\n"
           "                        to come back running it\n"
           "  update --if-needed    the same, but sends nothing when the controller already\n"
           "                        runs the offered version\n"
           "  update --force        the normal update although the controller's firmware\n"
           "                        does not answer (refused without it)\n"
           "  update --emergency    the emergency form, for a controller whose firmware no\n"
           "                        longer runs: asks for the steps by hand first (--yes: not)\n"
           "\n"
           "Options:\n"
           "  --port NAME           the controller on this port, when there are several\n"
           "  --json                one JSON object a line, per event, on standard output\n"
           "  --quiet, -q           errors only\n"
           "  --yes, -y             no question before an emergency update\n"
           "  --help, -h            this text\n"
           "  --version             the program's version\n"
           "\n"
           "Exit status: 0 done (for update: written and confirmed), 1 failed, 2 usage error,\n"
           "3 no controller found, 4 controller busy or in use, 5 written but not confirmed,\n"
           "6 the MIDI system cannot be opened.\n";
}
