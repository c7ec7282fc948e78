#include "EmulatorOptions.h"

namespace
{
    std::optional<int> parseMilliseconds (const juce::String& text)
    {
        if (text.isEmpty() || text.length() > 7 || ! text.containsOnly ("0123456789"))
            return std::nullopt;

        return text.getIntValue();
    }

    std::optional<juce::uint8> parseVersionPart (const juce::String& text)
    {
        if (text.isEmpty() || text.length() > 3 || ! text.containsOnly ("0123456789") || text.getIntValue() > 127)
            return std::nullopt;

        return (juce::uint8) text.getIntValue();
    }
} // namespace

std::optional<ControllerEmulator::Version> EmulatorOptions::parseVersion (const juce::String& text)
{
    juce::StringArray parts;
    parts.addTokens (text, ".", {});

    if (parts.size() == 2 && parts[1].length() == 2)
    {
        // "1.05": the digits after the point are the minor and patch numbers.
        parts.set (1, parts[1].substring (0, 1));
        parts.insert (2, text.getLastCharacters (1));
    }

    if (parts.size() != 3)
        return std::nullopt;

    ControllerEmulator::Version version {};

    for (int i = 0; i < 3; ++i)
    {
        const auto part = parseVersionPart (parts[i]);

        if (! part.has_value())
            return std::nullopt;

        version[(size_t) i] = *part;
    }

    return version;
}

std::optional<EmulatorOptions> EmulatorOptions::parse (const juce::StringArray& args, juce::String& error)
{
    EmulatorOptions options;
    int transports = 0;

    for (int i = 0; i < args.size(); ++i)
    {
        const auto& arg = args[i];
        const auto takesValue = arg == "--rawmidi" || arg == "--version" || arg == "--version-after-update"
                                || arg == "--image-check" || arg == "--reset-ms" || arg == "--reset-duration-ms"
                                || arg == "--log-bursts" || arg == "--unplug-command" || arg == "--plug-command";

        if (takesValue && i + 1 >= args.size())
        {
            error = arg + " needs a value";
            return std::nullopt;
        }

        const auto value = takesValue ? args[++i] : juce::String();
        const auto bad = [&error, &arg, &value] {
            error = "bad value for " + arg + ": \"" + value + "\"";
            return std::nullopt;
        };

        if (arg == "--seq")
        {
            options.transport = Transport::sequencer;
            ++transports;
        }
        else if (arg == "--rawmidi")
        {
            options.transport = Transport::rawMidi;
            options.rawMidiDevice = value;
            ++transports;
        }
        else if (arg == "--version" || arg == "--version-after-update")
        {
            const auto version = parseVersion (value);

            if (! version.has_value())
                return bad();

            (arg == "--version" ? options.config.version : options.config.versionAfterUpdate) = *version;
        }
        else if (arg == "--image-check")
        {
            if (value == "exact")
                options.config.imageCheck = ControllerEmulator::ImageCheck::exactMatch;
            else if (value == "checksums")
                options.config.imageCheck = ControllerEmulator::ImageCheck::headerAndChecksums;
            else
                return bad();
        }
        else if (arg == "--reset-ms" || arg == "--reset-duration-ms" || arg == "--log-bursts")
        {
            const auto ms = parseMilliseconds (value);

            if (! ms.has_value())
                return bad();

            (arg == "--reset-ms"            ? options.config.resetDelayMs
             : arg == "--reset-duration-ms" ? options.config.resetDurationMs
                                            : options.logEveryNthBurst) = *ms;
        }
        else if (arg == "--unplug-command")
            options.unplugCommand = value;
        else if (arg == "--plug-command")
            options.plugCommand = value;
        else if (arg == "--bootloader")
            options.bootloader = true;
        else if (arg == "--keep-running")
            options.keepRunning = true;
        else
        {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }

    if (transports != 1)
        error = "give exactly one of --seq and --rawmidi DEVICE";
    else if (options.transport == Transport::rawMidi && options.rawMidiDevice.isEmpty())
        error = "--rawmidi needs a device name, such as hw:1,0";
    else if (options.transport == Transport::sequencer && (options.unplugCommand.isNotEmpty() || options.plugCommand.isNotEmpty()))
        error = "--unplug-command and --plug-command go with --rawmidi";

    if (error.isNotEmpty())
        return std::nullopt;

    return options;
}

juce::String EmulatorOptions::getUsage()
{
    return "usage: qb4ii-controller-emulator (--seq | --rawmidi DEVICE) [options]\n"
           "\n"
           "Plays the Korvan QB4 II for the firmware updater: answers its identity request,\n"
           "takes the erase request and the firmware image, checks the image, resets and\n"
           "comes back with the new version. Logs each step on stdout.\n"
           "\n"
           "  --seq                      ALSA sequencer ports \"Korvan QB4 II MIDI\" of its own\n"
           "  --rawmidi DEVICE           a raw MIDI device (hw:ID,0), e.g. a USB gadget's device side\n"
           "  --version V                firmware version at start (default 1.00)\n"
           "  --version-after-update V   version after a verified image (default 1.05)\n"
           "  --bootloader               start in the bootloader: no identity reply, image without erase\n"
           "  --image-check exact|checksums\n"
           "                             the embedded image byte for byte (default), or a valid\n"
           "                             header, Intel HEX records and F7\n"
           "  --reset-ms MS              from a verified image to the reset (default 600)\n"
           "  --reset-duration-ms MS     how long the ports stay away in a reset (default 1500)\n"
           "  --log-bursts N             log every Nth burst of an image (default 50; 0: none)\n"
           "  --unplug-command CMD       with --rawmidi: shell command that unplugs the device in a reset\n"
           "  --plug-command CMD         with --rawmidi: shell command that plugs it in again\n"
           "  --keep-running             go on after the first image (stop with Ctrl-C)\n"
           "\n"
           "Without --keep-running it exits after the first image: with status 1 at once when\n"
           "the image is rejected, with 0 once a verified image's reset is over and the new\n"
           "version has been asked for. With --keep-running the status at Ctrl-C or SIGTERM is\n"
           "1 when any image was rejected or cut off, else 0. Status 2: bad arguments, no device.\n";
}
