#include "firmware/DeviceMessages.h"
#include "firmware/FirmwareUpdate.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
    constexpr unsigned sliceSize = 256;
    constexpr int sliceInterval = 259;

    juce::Array<char> countingBytes (int size)
    {
        juce::Array<char> bytes;

        for (int i = 0; i < size; ++i)
            bytes.add ((char) (i % 251));

        return bytes;
    }

    juce::Array<char> imageArray()
    {
        return juce::Array<char> (firmwareImage, firmwareImageSize);
    }

    juce::Array<char> eraseArray()
    {
        return juce::Array<char> (reinterpret_cast<const char*> (eraseRequestMessage.data()), (int) eraseRequestMessage.size());
    }

    juce::Array<char> concatenateBlocks (const FirmwareUpdate& update)
    {
        juce::Array<char> all;

        for (unsigned i = 0; i < update.getNumBlocks(); ++i)
            all.addArray (update.getBlock ((int) i));

        return all;
    }

    juce::Array<char> bytesFrom (const juce::Array<char>& bytes, int start, int count)
    {
        return juce::Array<char> (bytes.begin() + start, count);
    }

    juce::uint8 byteAt (const juce::Array<char>& bytes, int index)
    {
        return (juce::uint8) bytes[index];
    }
} // namespace

TEST (FirmwareUpdate, EmbeddedImageIsCutInto574SlicesThatRebuildIt)
{
    const FirmwareUpdate::Ptr emergency = new FirmwareUpdate (firmwareImage, firmwareImageSize, sliceSize, sliceInterval, "Korvan QB4 II MIDI");
    const FirmwareUpdate::Ptr normal = new FirmwareUpdate (eraseArray(), imageArray(), sliceSize, sliceInterval, "Korvan QB4 II MIDI");

    for (const auto& update : { emergency, normal })
    {
        ASSERT_EQ (update->getNumBlocks(), 574u);

        const auto first = update->getBlock (0);
        ASSERT_EQ (first.size(), 256);
        const juce::uint8 header[] { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 };

        for (int i = 0; i < 7; ++i)
            EXPECT_EQ (byteAt (first, i), header[i]) << "header byte " << i;

        const auto last = update->getBlock (573);
        ASSERT_EQ (last.size(), 89);
        EXPECT_EQ (byteAt (last, 88), 0xf7);

        EXPECT_TRUE (update->getBlock (574).isEmpty());

        // Only the first block opens the message and only the last one closes it.
        for (int i = 1; i < 573; ++i)
        {
            const auto block = update->getBlock (i);
            ASSERT_EQ (block.size(), 256) << "block " << i;
            ASSERT_NE (byteAt (block, 0), 0xf0) << "block " << i;
            ASSERT_NE (byteAt (block, 255), 0xf7) << "block " << i;
        }

        EXPECT_EQ (concatenateBlocks (*update), imageArray());
    }

    EXPECT_TRUE (emergency->getEraseRequest().isEmpty());
    EXPECT_EQ (normal->getEraseRequest(), eraseArray());
}

TEST (FirmwareUpdate, BlockCountsAndBoundaries)
{
    const auto data = countingBytes (512);
    const FirmwareUpdate twoFull ({}, data, sliceSize, sliceInterval, "port");
    EXPECT_EQ (twoFull.getNumBlocks(), 2u);
    EXPECT_EQ (twoFull.getBlock (0), bytesFrom (data, 0, 256));
    EXPECT_EQ (twoFull.getBlock (1), bytesFrom (data, 256, 256));
    EXPECT_TRUE (twoFull.getBlock (2).isEmpty());

    const FirmwareUpdate oneMore ({}, countingBytes (513), sliceSize, sliceInterval, "port");
    EXPECT_EQ (oneMore.getNumBlocks(), 3u);
    EXPECT_EQ (oneMore.getBlock (2).size(), 1);

    const FirmwareUpdate empty ({}, {}, sliceSize, sliceInterval, "port");
    EXPECT_EQ (empty.getNumBlocks(), 0u);
    EXPECT_TRUE (empty.getBlock (0).isEmpty());

    const char one = 0x42;
    const FirmwareUpdate single (&one, 1, sliceSize, sliceInterval, "port");
    ASSERT_EQ (single.getNumBlocks(), 1u);
    ASSERT_EQ (single.getBlock (0).size(), 1);
    EXPECT_EQ (single.getBlock (0)[0], 0x42);
}

TEST (FirmwareUpdate, EmergencyFormWithNoBytesIsEmpty)
{
    for (const auto size : { 0, -1, std::numeric_limits<int>::min() })
    {
        const FirmwareUpdate update (firmwareImage, size, sliceSize, sliceInterval, "port");
        EXPECT_EQ (update.getNumBlocks(), 0u) << size;
        EXPECT_TRUE (update.getBlock (0).isEmpty()) << size;
        EXPECT_TRUE (update.getEraseRequest().isEmpty()) << size;
    }

    const FirmwareUpdate fromNull (nullptr, 100, sliceSize, sliceInterval, "port");
    EXPECT_EQ (fromNull.getNumBlocks(), 0u);
}

TEST (FirmwareUpdate, AnyIndexOutsideTheBlocksGivesAnEmptyBlock)
{
    const FirmwareUpdate update (firmwareImage, firmwareImageSize, sliceSize, sliceInterval, "port");

    // In 32-bit arithmetic several of these would overflow into a valid-looking range.
    for (const int index : { -1, -2, -573, std::numeric_limits<int>::min(), 574, 575, 16777216, 16777217,
                             std::numeric_limits<int>::max() })
        EXPECT_TRUE (update.getBlock (index).isEmpty()) << "index " << index;

    // A block size near the top of the unsigned range must not wrap either.
    const FirmwareUpdate huge ({}, countingBytes (1000), std::numeric_limits<unsigned>::max(), sliceInterval, "port");
    ASSERT_EQ (huge.getNumBlocks(), 1u);
    EXPECT_EQ (huge.getBlock (0).size(), 1000);

    for (const int index : { -1, 1, 2, std::numeric_limits<int>::max() })
        EXPECT_TRUE (huge.getBlock (index).isEmpty()) << "index " << index;
}

TEST (FirmwareUpdate, BlockSizeZeroCutsNothing)
{
    const FirmwareUpdate normal (eraseArray(), countingBytes (100), 0, sliceInterval, "port");
    const FirmwareUpdate emergency (firmwareImage, firmwareImageSize, 0, sliceInterval, "port");

    for (const auto* update : { &normal, &emergency })
    {
        EXPECT_EQ (update->getNumBlocks(), 0u);

        for (const int index : { 0, 1, -1, std::numeric_limits<int>::max() })
            EXPECT_TRUE (update->getBlock (index).isEmpty()) << "index " << index;
    }

    EXPECT_EQ (normal.getEraseRequest(), eraseArray());
}
