// System Exclusive put together from the pieces a MIDI system delivers, one row
// a case: the pieces fed in turn, and the messages that must come out.

#include "midi/SysexAssembler.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    /** F0, n - 2 data bytes, F7: a message of n bytes in all. */
    Bytes message (size_t n, juce::uint8 data = 0x01)
    {
        Bytes m (n, data);
        m.front() = 0xf0;
        m.back() = 0xf7;
        return m;
    }

    Bytes join (std::initializer_list<Bytes> parts)
    {
        Bytes all;
        for (const auto& p : parts)
            all.insert (all.end(), p.begin(), p.end());
        return all;
    }

    struct Row
    {
        const char* name;
        std::vector<Bytes> pieces;
        std::vector<Bytes> delivered;
        bool insideAtTheEnd = false;
    };

    std::ostream& operator<< (std::ostream& os, const Row& row) { return os << row.name; }

    class SysexAssemblerTable : public ::testing::TestWithParam<Row>
    {
    };

    const Bytes reply { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7 };
} // namespace

TEST_P (SysexAssemblerTable, DeliversWholeMessagesOnly)
{
    SysexAssembler assembler;
    std::vector<Bytes> delivered;

    for (const auto& piece : GetParam().pieces)
        assembler.feed (piece.data(), piece.size(), [&] (const juce::uint8* m, size_t n) { delivered.emplace_back (m, m + n); });

    EXPECT_EQ (delivered, GetParam().delivered);
    EXPECT_EQ (assembler.isInsideMessage(), GetParam().insideAtTheEnd);
}

INSTANTIATE_TEST_SUITE_P (
    Rows,
    SysexAssemblerTable,
    ::testing::Values (
        Row { "Whole", { reply }, { reply } },
        Row { "SplitAcrossEvents", { { 0xf0, 0x7e }, { 0x00, 0x06 }, { 0x02, 0xf7 } }, { reply } },
        Row { "TwoInOneEvent", { join ({ reply, reply }) }, { reply, reply } },
        Row { "Exactly4096Bytes", { message (4096) }, { message (4096) } },
        Row { "Of4097BytesDroppedWhole", { message (4097), reply }, { reply } },
        Row { "TooLongThenF0Restarts", { Bytes (5000, 0x01), reply }, { reply } },
        Row { "TooLongDroppedUpToItsF7", { { 0xf0 }, Bytes (4200, 0x01), { 0x02, 0x03, 0xf7, 0x04 }, reply }, { reply } },
        Row { "F0InTheMiddleRestarts", { { 0xf0, 0x7e, 0x00 }, reply }, { reply } },
        Row { "StrayF7", { { 0xf7 }, reply, { 0xf7 } }, { reply } },
        Row { "DataBeforeAnyF0", { { 0x01, 0x02, 0x7e }, reply }, { reply } },
        Row { "UnfinishedAtTheEnd", { reply, { 0xf0, 0x7e } }, { reply }, true }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });
