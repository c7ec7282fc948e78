// Pieces of incoming System Exclusive, as a MIDI system delivers them: whatever
// arrives, only whole messages of at most the bound come out, each with one F0
// at its start and one F7 at its end.

#include "midi/SysexAssembler.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    SysexAssembler assembler;
    const auto check = [] (const juce::uint8* m, size_t n) {
        if (n < 2 || n > SysexAssembler::maxMessageBytes || m[0] != 0xf0 || m[n - 1] != 0xf7)
            std::abort();
        for (size_t i = 1; i + 1 < n; ++i)
            if (m[i] == 0xf0 || m[i] == 0xf7)
                std::abort();
    };

    // The first byte of each piece says how long it is, so the fuzzer chooses
    // the splits too; a long run of it repeats, to reach the bound.
    while (size > 0)
    {
        const auto length = std::min<size_t> (size - 1, data[0] & 0x3f);
        const auto repeats = (data[0] & 0x40) != 0 ? 80 : 1;

        for (int r = 0; r < repeats; ++r)
            assembler.feed (data + 1, length, check);

        data += length + 1;
        size -= length + 1;
    }

    return 0;
}
