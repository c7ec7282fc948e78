/*
    The updater's chain on Windows (JUCE's WinMM MIDI service, MidiManager,
    detection, engine and sender) against the recording winmm.dll
    (RecordingWinmm.c), which stands in for Windows' own: run under Wine with
    WINEDLLOVERRIDES=winmm=n and the DLL beside this program. The DLL writes every
    call it took to winmm-record.txt in the working folder; this program then
    reads it back and checks the bytes there, where JUCE hands them to Windows.

    qb4ii_winmm_boundary update [INTERVAL_MS]
        Detection finds "Korvan QB4 II" and reads 1.00; a normal update runs at the
        given interval (default 1 ms, erase wait 20 ms) to "Completed"; the
        controller resets and is read as 1.05. Then: the erase request was one
        call, the 574 slices reached midiOutLongMsg byte-identical and in order,
        concatenating to the image, and no other call came in between. With an
        interval, also reports the gaps between the calls (min, median, p99, max)
        and fails on one shorter than the interval.
    qb4ii_winmm_boundary offline | hang
        The DLL removes its devices after 100 slices, or its driver holds on to
        the 101st: the update ends in Device Offline, within the send's bound,
        and nothing more reaches the boundary. In the hang run timeGetTime wraps
        while the held send waits: it must still wait its whole bound.
*/

#include "emulator/ControllerEmulator.h"
#include "engine/ApplicationEngine.h"
#include "engine/SleepInhibitor.h"
#include "firmware/DeviceMessages.h"
#include "firmware/DevicePortNames.h"
#include "midi/WinMmMidiOutput.h"
#include "support/RecordingEngineListener.h"
#include "support/TestHelpers.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

namespace
{
    const char* const recordFile = "winmm-record.txt";

    // The helpers' waits count on timeGetTime, which the DLL can make wrap: these
    // count on the 64-bit tick count.
    bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
    {
        for (const auto end = GetTickCount64() + (ULONGLONG) timeoutMs; ! condition() && GetTickCount64() < end;)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (2);

        return condition();
    }

    struct Call
    {
        juce::String kind;
        double microseconds = 0.0;
        juce::MemoryBlock bytes;
    };

    std::vector<Call> readRecord()
    {
        std::vector<Call> calls;

        for (const auto& line : juce::StringArray::fromLines (juce::File::getCurrentWorkingDirectory().getChildFile (recordFile).loadFileAsString()))
        {
            auto tokens = juce::StringArray::fromTokens (line, " ", "");

            if (tokens.size() < 3)
                continue;

            Call call;
            call.kind = tokens[0] == "REFUSED" ? "REFUSED " + tokens[1] : tokens[0];
            call.microseconds = tokens[tokens.size() - 2].getDoubleValue();
            call.bytes.loadFromHexString (tokens[tokens.size() - 1]);
            calls.push_back (std::move (call));
        }

        return calls;
    }

    void setReplies()
    {
        const auto hex = [] (ControllerEmulator::Version v) {
            return juce::String::toHexString (ControllerEmulator::buildIdentityReply (v).getData(),
                                              (int) ControllerEmulator::buildIdentityReply (v).getSize(), 0);
        };

        _putenv_s ("QB4II_WINMM_REPLY", hex ({ { 1, 0, 0 } }).toRawUTF8());
        _putenv_s ("QB4II_WINMM_REPLY_AFTER", hex ({ { 1, 0, 5 } }).toRawUTF8());
    }

    int fail (const juce::String& why)
    {
        std::cout << "FAIL: " << why << std::endl;
        return 1;
    }

    juce::MemoryBlock block (int k, int blockSize)
    {
        const auto offset = (size_t) k * (size_t) blockSize;
        return { firmwareImage + offset, std::min ((size_t) blockSize, (size_t) firmwareImageSize - offset) };
    }

    /** The calls from the erase request to the last slice: exactly the update. */
    int checkTheStream (const std::vector<Call>& calls, int blockSize, int intervalMs)
    {
        const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
        const auto first = std::find_if (calls.begin(), calls.end(), [&] (const Call& c) { return c.bytes == erase; });

        if (first == calls.end())
            return fail ("no erase request reached midiOutLongMsg");

        if (first->kind != "L")
            return fail ("the erase request went out as " + first->kind);

        const int numBlocks = (firmwareImageSize + blockSize - 1) / blockSize;

        if (calls.end() - first < numBlocks + 1)
            return fail (juce::String ((int) (calls.end() - first - 1)) + " calls after the erase request, " + juce::String (numBlocks) + " slices expected");

        juce::MemoryBlock joined;
        std::vector<double> gaps;

        for (int k = 0; k < numBlocks; ++k)
        {
            const auto& call = *(first + 1 + k);

            if (call.kind != "L" || call.bytes != block (k, blockSize))
                return fail ("call " + juce::String (k + 1) + " after the erase request is not slice " + juce::String (k) + " as one midiOutLongMsg (" + call.kind + ", " + juce::String ((int) call.bytes.getSize()) + " bytes)");

            joined.append (call.bytes.getData(), call.bytes.getSize());

            if (k > 0)
                gaps.push_back ((call.microseconds - (first + k)->microseconds) / 1000.0);
        }

        if (joined != juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize))
            return fail ("the slices do not concatenate to the image");

        std::cout << "the erase request: one call; " << numBlocks << " slices, byte-identical, in order, concatenating to the "
                  << joined.getSize() << "-byte image; no other call among them" << std::endl;

        std::sort (gaps.begin(), gaps.end());
        const auto at = [&] (double q) { return gaps[std::min (gaps.size() - 1, (size_t) (q * (double) gaps.size()))]; };
        std::cout << "gaps between slices at midiOutLongMsg: min " << juce::String (gaps.front(), 2) << ", median "
                  << juce::String (at (0.5), 2) << ", p99 " << juce::String (at (0.99), 2) << ", max "
                  << juce::String (gaps.back(), 2) << " ms" << std::endl;

        if (gaps.front() < intervalMs)
            return fail ("a slice reached Windows " + juce::String (gaps.front(), 2) + " ms after the one before");

        return 0;
    }

    /** qb4ii-update.exe as a script runs it: the version, then an update at the
        controller's own pacing, each ending with its JSON result. */
    int runProgram (const juce::String& exe)
    {
        for (const juce::String command : { "version", "update" })
        {
            juce::ChildProcess child;
            if (! child.start (juce::StringArray { exe, command, "--json" }))
                return fail ("could not start " + exe);
            auto output = child.readAllProcessOutput();
            output += child.readAllProcessOutput(); // what Wine's pipe still held when it ended
            std::cout << output << std::flush;
            const auto last = juce::JSON::parse (juce::StringArray::fromLines (output.trim()).strings.getLast());
            if (child.getExitCode() != 0 || last["result"].toString() != (command == "update" ? "confirmed" : "version"))
                return fail (exe + " " + command + " exited " + juce::String ((int) child.getExitCode()));
        }
        const FirmwareTiming timing;
        return checkTheStream (readRecord(), (int) timing.blockSize, timing.blockIntervalMs);
    }

    int run (bool offline, bool hang, int intervalMs)
    {
        const FirmwareTiming timing { 256, intervalMs, intervalMs > 1 ? 5000 : 20 };
        MidiManager::Ptr manager (new MidiManager());
        ApplicationEngine::Ptr engine (new ApplicationEngine (manager, timing));
        testing_support::RecordingEngineListener listener;
        engine->addListener (&listener);
        const auto cleanUp = [&] { engine->removeListener (&listener); };

        const auto versionIs = [&] (double v) { return ! listener.versions.empty() && listener.versions.back() == v; };

        if (! pumpUntil ([&] { return engine->getState().deviceName == deviceMidiPortName && versionIs (1.0); }, 20000))
            return cleanUp(), fail ("detection did not find \"" + deviceMidiPortName + "\" and read 1.00 (found \"" + engine->getState().deviceName + "\")");

        std::cout << "detected \"" << engine->getState().deviceName << "\", version 1.00" << std::endl;

        // Windows keeps the system awake from the start to the end. Asking for the
        // same state again reads what the updater set and changes nothing.
        engine->setSleepInhibitor (SleepInhibitor::createForPlatform());

        if (! engine->startUpdate (false))
            return cleanUp(), fail ("the engine refused to start");

        if (SetThreadExecutionState (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != (ES_CONTINUOUS | ES_SYSTEM_REQUIRED))
            return cleanUp(), fail ("the system is not kept awake during the update");

        const auto budgetMs = (int) (timing.eraseWaitMs + 600.0 * (intervalMs + 5) + 30000);
        const auto ended = [&] {
            const auto& s = listener.states;
            return std::find (s.begin(), s.end(), (int) ApplicationEngine::complete) != s.end() || ! listener.errors.empty();
        };

        // The slice after the 100th is held, and the clock wraps half a second
        // into its wait: from the 100th slice's report (made as it is sent, as
        // 99 of 574 done) to Device Offline, the bound must still pass, less the
        // one interval before the held send.
        const auto slices = [&] { return listener.progress.empty() ? 0 : juce::roundToInt (listener.progress.back() * 574); };
        if (hang && ! pumpUntil ([&] { return slices() >= 99 || ended(); }, budgetMs))
            return cleanUp(), fail ("the update did not reach slice 100");
        const auto heldFromMs = GetTickCount64();

        if (! pumpUntil (ended, budgetMs))
            return cleanUp(), fail ("the update did not end");

        if (hang)
            std::cout << "Device Offline " << (GetTickCount64() - heldFromMs) << " ms after slice 100's report; timeGetTime wrapped meanwhile" << std::endl;

        if (offline)
        {
            cleanUp();

            if (listener.errors != std::vector<int> { ApplicationEngine::deviceOfflineError } || engine->isUpdating())
                return fail ("expected Device Offline once and no update running");

            if (hang && GetTickCount64() - heldFromMs < (ULONGLONG) (WinMmMidiOutput::sendTimeoutMs - intervalMs))
                return fail ("Device Offline before the held send's bound was out: the wrap cut its wait short");

            pumpUntil ([] { return false; }, 500);
            const auto calls = readRecord();
            const juce::MemoryBlock erase (eraseRequestMessage.data(), eraseRequestMessage.size());
            const auto start = std::find_if (calls.begin(), calls.end(), [&] (const Call& c) { return c.bytes == erase; });
            const auto taken = std::count_if (start, calls.end(), [] (const Call& c) { return c.kind == "L"; });
            std::cout << "Device Offline once the devices went" << (hang ? " (its driver holding a buffer)" : "") << "; the boundary took the erase request and "
                      << taken - 1 << " slices" << std::endl;
            return taken == (hang ? 102 : 101) ? 0 : fail ("expected the erase request and 100 slices, and nothing after them");
        }

        if (! listener.errors.empty())
            return cleanUp(), fail ("the update failed");

        // Released at the end: set to ES_CONTINUOUS alone (and left so).
        if (SetThreadExecutionState (ES_CONTINUOUS) != ES_CONTINUOUS)
            return cleanUp(), fail ("the system is still kept awake after the update");

        std::cout << "Completed; the system was kept awake from the start to the end" << std::endl;

        if (! pumpUntil ([&] { return versionIs (1.05); }, 20000))
            return cleanUp(), fail ("the controller was not read as 1.05 after its reset");

        std::cout << "detected again after the reset, version 1.05" << std::endl;

        if (! pumpUntil ([&] { return ! listener.results.empty(); }, 20000)
            || listener.results.front().verdict != ApplicationEngine::UpdateResult::confirmed)
            return cleanUp(), fail ("the update was not confirmed");

        std::cout << "confirmed" << std::endl;
        cleanUp();
        return checkTheStream (readRecord(), (int) timing.blockSize, intervalMs);
    }
} // namespace

int main (int argc, char** argv)
{
    const juce::String mode (argc > 1 ? argv[1] : "");

    if (mode != "update" && mode != "offline" && mode != "hang" && (mode != "program" || argc < 3))
    {
        std::cerr << "usage: qb4ii_winmm_boundary update [INTERVAL_MS] | offline | hang | program EXE" << std::endl;
        return 2;
    }

    // Before the first MIDI call, when the DLL reads them.
    _putenv_s ("QB4II_WINMM_RECORD", recordFile);
    setReplies();
    if (mode == "offline" || mode == "hang")
        _putenv_s (mode == "offline" ? "QB4II_WINMM_UNPLUG_AFTER" : "QB4II_WINMM_HANG_AFTER", "100");

    const juce::ScopedJuceInitialiser_GUI juce;
    const auto result = mode == "program" ? runProgram (argv[2]) : run (mode == "offline" || mode == "hang", mode == "hang", argc > 2 ? juce::String (argv[2]).getIntValue() : 1);
    std::cout << (result == 0 ? "PASS" : "FAILED") << std::endl;
    return result;
}
