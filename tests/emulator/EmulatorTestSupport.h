#pragma once

#include "emulator/ControllerEmulator.h"

#include <juce_core/juce_core.h>

#include <mutex>
#include <utility>
#include <vector>

namespace testing_support
{
    /** The controller's ports vanish once this many bursts of an image have
        arrived, and come back after awayMs: a cable pulled mid-transfer. */
    inline ControllerEmulator::Faults unplugMidTransfer (int afterBursts = 10, int awayMs = 300)
    {
        ControllerEmulator::Faults faults;
        faults.unplugAfterBursts = afterBursts;
        faults.unplugAfterBurstsForMs = awayMs;
        return faults;
    }

    /** A firmware image message laid out like the real one (the same records, the
        same 146777 bytes) with pseudo-random firmware bytes drawn from the seed. */
    inline juce::MemoryBlock makeImageContainer (int seed = 1)
    {
        juce::Random random (seed);
        juce::MemoryBlock image;

        const juce::uint8 header[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 };
        image.append (header, sizeof (header));

        const auto record = [&] (int type, int address, std::vector<juce::uint8> data) {
            std::vector<juce::uint8> fields { (juce::uint8) data.size(), (juce::uint8) (address >> 8),
                                              (juce::uint8) (address & 0xff), (juce::uint8) type };
            fields.insert (fields.end(), data.begin(), data.end());

            int sum = 0;
            for (auto f : fields)
                sum += f;
            fields.push_back ((juce::uint8) (-sum & 0xff));

            juce::String text (":");
            for (auto f : fields)
                text << juce::String::toHexString ((int) f).paddedLeft ('0', 2).toUpperCase();
            text << "\r\n";

            image.append (text.toRawUTF8(), (size_t) text.getNumBytesAsUTF8());
        };

        const auto dataRecords = [&] (int firstAddress, int count, int lastLength) {
            for (int i = 0; i < count; ++i)
            {
                std::vector<juce::uint8> data ((size_t) (i == count - 1 ? lastLength : 16));
                for (auto& d : data)
                    d = (juce::uint8) random.nextInt (256);
                record (0x00, firstAddress + 16 * i, data);
            }
        };

        record (0x04, 0, { 0x08, 0x00 });
        dataRecords (0x4000, 3072, 16);
        record (0x04, 0, { 0x08, 0x01 });
        dataRecords (0x0000, 184, 8);
        record (0x04, 0, { 0x08, 0x01 });
        dataRecords (0xf800, 4, 16);
        record (0x05, 0, { 0x08, 0x00, 0x40, 0xed });
        record (0x01, 0, {});

        const juce::uint8 end = 0xf7;
        image.append (&end, 1);
        return image;
    }

    /** Records what an emulator sends and when its ports come and go. Any thread. */
    struct EmulatorProbe
    {
        explicit EmulatorProbe (ControllerEmulator& e)
            : emulator (e)
        {
            e.setOutput ([this] (const juce::MemoryBlock& m) {
                const std::lock_guard<std::mutex> sl (lock);
                sent.push_back (m);
            });

            e.setPresence ([this] (bool present, const juce::String& name) {
                const std::lock_guard<std::mutex> sl (lock);
                presence.emplace_back (present, name);
                presenceTimes.push_back (juce::Time::getMillisecondCounterHiRes());
            });
        }

        ~EmulatorProbe()
        {
            emulator.setOutput ({});
            emulator.setPresence ({});
        }

        std::vector<juce::MemoryBlock> getSent()
        {
            const std::lock_guard<std::mutex> sl (lock);
            return sent;
        }

        std::vector<std::pair<bool, juce::String>> getPresence()
        {
            const std::lock_guard<std::mutex> sl (lock);
            return presence;
        }

        std::vector<double> getPresenceTimes()
        {
            const std::lock_guard<std::mutex> sl (lock);
            return presenceTimes;
        }

        void clear()
        {
            const std::lock_guard<std::mutex> sl (lock);
            sent.clear();
            presence.clear();
            presenceTimes.clear();
        }

        ControllerEmulator& emulator;
        std::mutex lock;
        std::vector<juce::MemoryBlock> sent;
        std::vector<std::pair<bool, juce::String>> presence;
        std::vector<double> presenceTimes;
    };
} // namespace testing_support
