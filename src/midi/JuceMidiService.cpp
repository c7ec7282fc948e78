#include "midi/JuceMidiService.h"

#if JUCE_WINDOWS
#include "midi/WinMmMidiOutput.h"
#endif

namespace
{
    class JuceInput final : public MidiService::Input
    {
    public:
        explicit JuceInput (std::unique_ptr<juce::MidiInput> in)
            : input (std::move (in))
        {
        }
        ~JuceInput() override { input->stop(); }

        void start() override { input->start(); }
        void stop() override { input->stop(); }
        juce::MidiDeviceInfo getDeviceInfo() const override { return input->getDeviceInfo(); }

    private:
        std::unique_ptr<juce::MidiInput> input;
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
} // namespace

juce::Array<juce::MidiDeviceInfo> JuceMidiService::getInputDevices()
{
    return juce::MidiInput::getAvailableDevices();
}

juce::Array<juce::MidiDeviceInfo> JuceMidiService::getOutputDevices()
{
    return juce::MidiOutput::getAvailableDevices();
}

std::unique_ptr<MidiService::Input> JuceMidiService::openInput (const juce::String& identifier,
                                                                juce::MidiInputCallback& callback)
{
    if (auto in = juce::MidiInput::openDevice (identifier, &callback))
        return std::make_unique<JuceInput> (std::move (in));

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
