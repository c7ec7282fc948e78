// qb4ii-controller-emulator: the Korvan QB4 II played by a program, on ALSA
// sequencer ports of its own (--seq) or on a raw MIDI device (--rawmidi hw:ID,0),
// for trying the updater without the hardware. See EmulatorOptions::getUsage.

#include "EmulatorOptions.h"
#include "EmulatorSession.h"
#include "RawMidiTransport.h"
#include "SequencerTransport.h"

#include <csignal>
#include <iostream>

namespace
{
    volatile std::sig_atomic_t stopRequested = 0;

    void requestStop (int)
    {
        stopRequested = 1;
    }
} // namespace

int main (int argc, char** argv)
{
    juce::StringArray args;
    for (int i = 1; i < argc; ++i)
        args.add (juce::CharPointer_UTF8 (argv[i]));

    if (args.contains ("--help") || args.contains ("-h"))
    {
        std::cout << EmulatorOptions::getUsage();
        return 0;
    }

    juce::String error;
    const auto options = EmulatorOptions::parse (args, error);

    if (! options.has_value())
    {
        std::cerr << "qb4ii-controller-emulator: " << error << "\n\n"
                  << EmulatorOptions::getUsage();
        return 2;
    }

    std::signal (SIGINT, requestStop);
    std::signal (SIGTERM, requestStop);

    std::unique_ptr<EmulatorTransport> transport;

    if (options->transport == EmulatorOptions::Transport::sequencer)
        transport = std::make_unique<SequencerTransport> ("Korvan QB4 II");
    else
        transport = std::make_unique<RawMidiTransport> (options->rawMidiDevice, options->unplugCommand, options->plugCommand);

    EmulatorSession session (*options, std::move (transport));
    return session.run ([] { return stopRequested != 0; });
}
