// System Exclusive put together from the pieces a MIDI system delivers, one row
// a case: the pieces fed in turn, and the messages that must come out.

#include "midi/SysexAssembler.h"

#include <gtest/gtest.h>

namespace
{
    using Bytes = std::vector<juce::uint8>;

    /** F0, data, F7: n bytes in all. */
    Bytes message (size_t n)
    {
        Bytes m (n, 0x01);
        m.front() = 0xf0;
        m.back() = 0xf7;
        return m;
    }

    const Bytes reply { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7 };

    struct Row
    {
        const char* name;
        std::vector<Bytes> pieces, delivered;
        bool insideAtTheEnd = false;
    };

    class SysexAssemblerTable : public ::testing::TestWithParam<Row>
    {
    };
} // namespace

TEST_P (SysexAssemblerTable, DeliversWholeBoundedMessagesOnly)
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
        Row { "SplitAcrossEvents", { { 0xf0, 0x7e }, { 0x00, 0x06 }, { 0x02, 0xf7 } }, { reply } },
        Row { "TwoInOneEvent", { { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7, 0xf0, 0x7e, 0x00, 0x06, 0x02, 0xf7 } }, { reply, reply } },
        Row { "Exactly4096Bytes", { message (4096) }, { message (4096) } },
        Row { "Of4097BytesDroppedWhole", { message (4097), reply }, { reply } },
        Row { "TooLongDroppedUpToItsF7", { { 0xf0 }, Bytes (4200, 0x01), { 0xf7, 0x04 }, reply }, { reply } },
        Row { "TooLongThenF0Restarts", { { 0xf0, 0x7e, 0x00 }, Bytes (5000, 0x01), reply }, { reply } },
        Row { "F0InTheMiddleRestarts", { { 0xf0, 0x7e, 0x00 }, reply }, { reply } },
        Row { "StrayF7AndDataBeforeAnyF0", { { 0xf7, 0x01, 0x7e }, reply, { 0xf7 } }, { reply } },
        Row { "UnfinishedAtTheEnd", { reply, { 0xf0, 0x7e } }, { reply }, true }),
    [] (const ::testing::TestParamInfo<Row>& p) { return std::string (p.param.name); });
