#pragma once

#include "EmulatorOptions.h"
#include "EmulatorTransport.h"
#include "emulator/TaskScheduler.h"

#include <functional>
#include <memory>

/**
    One run of the standalone emulator: a ControllerEmulator on a transport,
    driven by a plain poll loop on the calling thread, with each of the
    controller's steps logged on stdout as it happens.
*/
class EmulatorSession final : private EmulatorTransport::Listener
{
public:
    EmulatorSession (const EmulatorOptions& options, std::unique_ptr<EmulatorTransport> transport);
    ~EmulatorSession() override;

    /** Powers the controller up and runs until the options say it is done or
        shouldStop returns true (it is asked at least every 100 ms). Returns the
        exit status: 0, 1 when an image was rejected or cut off, 2 when the
        transport could not be opened. */
    int run (const std::function<bool()>& shouldStop);

    /** The gaps between bursts, for the image log line: "min/median/max" in
        milliseconds. Pure: any thread. */
    static juce::String describeGaps (const std::vector<ControllerEmulator::Burst>& bursts);

private:
    void bytesReceived (const void* data, size_t size) override;
    void deviceLost() override;
    void deviceOpened() override;

    /** Prints the emulator's new phase lines; notes images and the end of a run. */
    void logNewPhases();
    void logImage (const juce::String& line);
    void say (const juce::String& line);

    const EmulatorOptions options;
    std::unique_ptr<EmulatorTransport> transport;
    TaskScheduler* scheduler = nullptr; // owned by the emulator
    std::unique_ptr<ControllerEmulator> emulator;

    double startMs = 0.0;
    int phasesLogged = 0;
    size_t firstBurstOfImage = 0;
    bool failed = false;

    // The end of a run without --keep-running: a verified image, its reset, the
    // ports back, and the new version asked for.
    enum class Ending
    {
        none,
        verified,
        reset,
        back,
        done
    };
    Ending ending = Ending::none;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmulatorSession)
};
