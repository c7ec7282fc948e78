#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <vector>

namespace
{
    struct Record
    {
        int type;
        juce::uint32 address; // absolute, for data records
        std::vector<juce::uint8> data;
    };

    /** A plain reader for a file the packer already accepts (checked elsewhere). */
    std::vector<Record> readRecords (const juce::File& file)
    {
        std::vector<Record> records;
        juce::uint32 upper = 0;

        for (const auto& line : juce::StringArray::fromLines (file.loadFileAsString()))
        {
            if (line.isEmpty())
                continue;

            juce::MemoryBlock bytes;
            bytes.loadFromHexString (line.substring (1));
            const auto* b = static_cast<const juce::uint8*> (bytes.getData());
            Record r { b[3], upper << 16 | (juce::uint32) (b[1] << 8 | b[2]), { b + 4, b + 4 + b[0] } };

            if (r.type == 4)
                upper = (juce::uint32) (r.data[0] << 8 | r.data[1]);

            records.push_back (std::move (r));
        }

        return records;
    }
} // namespace

TEST (PlaceholderFirmware, HasTheControllersRecordLayout)
{
    const auto records = readRecords (juce::File (QB4II_PLACEHOLDER_FIRMWARE_HEX));
    ASSERT_EQ (records.size(), 3265u);

    size_t i = 0;
    const auto expectUpper = [&] (juce::uint8 high, juce::uint8 low) {
        ASSERT_EQ (records[i].type, 4) << "record " << i;
        EXPECT_EQ (records[i].data, (std::vector<juce::uint8> { high, low })) << "record " << i;
        ++i;
    };
    const auto expectData = [&] (juce::uint32 from, int count, size_t lastSize) {
        for (int k = 0; k < count; ++k, ++i)
        {
            ASSERT_EQ (records[i].type, 0) << "record " << i;
            ASSERT_EQ (records[i].address, from + 16u * (juce::uint32) k) << "record " << i;
            ASSERT_EQ (records[i].data.size(), k == count - 1 ? lastSize : 16u) << "record " << i;
        }
    };

    expectUpper (0x08, 0x00);
    expectData (0x08004000, 3072, 16);
    expectUpper (0x08, 0x01);
    expectData (0x08010000, 184, 8);
    expectUpper (0x08, 0x01);
    expectData (0x0801f800, 4, 16);

    ASSERT_EQ (records[i].type, 5);
    EXPECT_EQ (records[i].data, (std::vector<juce::uint8> { 0x08, 0x00, 0x40, 0xed }));
    ++i;
    EXPECT_EQ (records[i].type, 1);
}
