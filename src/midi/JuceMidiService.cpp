#include "midi/JuceMidiService.h"

#if JUCE_WINDOWS
#include "midi/WinMmMidiOutput.h"

#include <algorithm>
#endif

namespace
{
    class JuceInput final : public MidiService::Input
    {
    public:
        explicit JuceInput (std::unique_ptr<juce::MidiInput> in, std::optional<juce::MidiDeviceInfo> listed = std::nullopt)
            : input (std::move (in))
            , listedAs (std::move (listed))
        {
        }
        ~JuceInput() override { input->stop(); }

        void start() override { input->start(); }
        void stop() override { input->stop(); }
        juce::MidiDeviceInfo getDeviceInfo() const override { return listedAs.value_or (input->getDeviceInfo()); }

    private:
        std::unique_ptr<juce::MidiInput> input;
        const std::optional<juce::MidiDeviceInfo> listedAs; // as the service listed it, where that differs
    };

#if ! JUCE_WINDOWS
    class JuceOutput final : public MidiService::Output
    {
    public:
        explicit JuceOutput (std::unique_ptr<juce::MidiOutput> out)
            : output (std::move (out))
        {
        }

        bool sendBytes (const void* data, size_t numBytes) override
        {
            if (numBytes == 0 || numBytes > (size_t) std::numeric_limits<int>::max())
                return false;

            // The framework reports nothing back from a send.
            output->sendMessageNow (juce::MidiMessage (data, (int) numBytes, 0.0));
            return true;
        }

        juce::MidiDeviceInfo getDeviceInfo() const override { return output->getDeviceInfo(); }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };
#endif

#if JUCE_WINDOWS
    // Under WinMM's own names: the framework lists a second "Korvan QB4 II" as
    // "Korvan QB4 II-2", and the manager would never see two controllers.
    juce::Array<juce::MidiDeviceInfo> listWinMm (WinMmMidiOutput::Direction direction)
    {
        juce::Array<juce::MidiDeviceInfo> devices;

        for (const auto& port : WinMmMidiOutput::listPorts (direction))
            devices.add (port.info);

        return devices;
    }
#endif
} // namespace

juce::Array<juce::MidiDeviceInfo> JuceMidiService::getInputDevices()
{
#if JUCE_WINDOWS
    return listWinMm (WinMmMidiOutput::Direction::input);
#else
    return juce::MidiInput::getAvailableDevices();
#endif
}

juce::Array<juce::MidiDeviceInfo> JuceMidiService::getOutputDevices()
{
#if JUCE_WINDOWS
    return listWinMm (WinMmMidiOutput::Direction::output);
#else
    return juce::MidiOutput::getAvailableDevices();
#endif
}

std::unique_ptr<MidiService::Input> JuceMidiService::openInput (const juce::String& identifier,
                                                                juce::MidiInputCallback& callback)
{
#if JUCE_WINDOWS
    // The framework opens the WinMM device numbered as the port's position in
    // its list; where that is not the port's own number it would open another.
    const auto ports = WinMmMidiOutput::listPorts (WinMmMidiOutput::Direction::input);
    const auto port = std::find_if (ports.begin(), ports.end(), [&] (const auto& p) { return p.info.identifier == identifier; });

    if (port == ports.end() || port->deviceId != (int) (port - ports.begin()))
        return nullptr;

    if (auto in = juce::MidiInput::openDevice (identifier, &callback))
        return std::make_unique<JuceInput> (std::move (in), port->info);
#else
    if (auto in = juce::MidiInput::openDevice (identifier, &callback))
        return std::make_unique<JuceInput> (std::move (in));
#endif

    return nullptr;
}

std::unique_ptr<MidiService::Output> JuceMidiService::openOutput (const juce::String& identifier)
{
#if JUCE_WINDOWS
    // The framework's WinMM output reports no failure and can wait for ever.
    return WinMmMidiOutput::open (identifier);
#else
    if (auto out = juce::MidiOutput::openDevice (identifier))
        return std::make_unique<JuceOutput> (std::move (out));

    return nullptr;
#endif
}
