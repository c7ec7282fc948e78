#include "FirmwarePacker.h"
#include "firmware/DeviceMessages.h"

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <string>
#include <vector>

namespace
{
    const std::vector<std::string> validRecords {
        ":020000040800F2",
        ":1040000000500020ED400008C3400008C5400008F3",
        ":1040100000000000000000000000000000000000A0",
        ":04000005080040EDC2",
        ":00000001FF",
    };

    std::string join (const std::vector<std::string>& records, const std::string& ending = "\r\n")
    {
        std::string text;

        for (const auto& record : records)
            text += record + ending;

        return text;
    }

    /** The valid text with one record (0-based) replaced. */
    std::string withRecord (size_t index, const std::string& record)
    {
        auto records = validRecords;
        records[index] = record;
        return join (records);
    }

    std::string readFile (const char* path)
    {
        juce::MemoryBlock block;
        EXPECT_TRUE (juce::File (path).loadFileAsData (block)) << path;
        return block.toString().toStdString();
    }

    struct Rejection
    {
        const char* what;
        std::string text;
        int line;
        const char* reasonContains;
    };
} // namespace

TEST (FirmwarePacker, AcceptsAWellFormedFile)
{
    const auto check = firmware_packer::checkIntelHex (join (validRecords));
    EXPECT_TRUE (check.ok) << check.line << ": " << check.reason;
    EXPECT_EQ (check.line, 0);
    EXPECT_EQ (check.numRecords, 5);
    EXPECT_EQ (check.numDataBytes, 32);
}

TEST (FirmwarePacker, RejectsEachKindOfMalformedInput)
{
    const Rejection rejections[] = {
        { "no colon", withRecord (1, "1040000000500020ED400008C3400008C5400008F3"), 2, "does not start with ':'" },
        { "blank line", withRecord (2, ""), 3, "does not start with ':'" },
        { "lowercase digits", withRecord (1, ":1040000000500020ed400008C3400008C5400008F3"), 2, "lowercase hex digit 'e' at column 18" },
        { "not a hex digit", withRecord (3, ":04000005080040EDCG"), 4, "unexpected character 'G' at column 19" },
        { "space inside", withRecord (0, ":02000004 0800F2"), 1, "unexpected character ' ' at column 10" },
        { "odd digits", withRecord (0, ":020000040800F"), 1, "odd number of hex digits" },
        { "too short", withRecord (0, ":0000"), 1, "record too short" },
        { "count too high", withRecord (1, ":1140000000500020ED400008C3400008C5400008F2"), 2, "says 17 data bytes but the record holds 16" },
        { "count too low", withRecord (0, ":010000040800F3"), 1, "says 1 data bytes but the record holds 2" },
        { "wrong checksum", withRecord (2, ":1040100000000000000000000000000000000000A1"), 3, "checksum is 0xA1 but the record's bytes give 0xA0" },
        { "unknown type", withRecord (3, ":04000006080040EDC1"), 4, "unknown record type 0x06" },
        { "type and length disagree", withRecord (0, ":0300000408000AE7"), 1, "record type 0x04 needs 2 data bytes, not 3" },
        { "LF only", join (validRecords, "\n"), 1, "does not end with CR LF" },
        { "CR only", join (validRecords, "\r"), 1, "does not end with CR LF" },
        { "no line end at the end", join (validRecords).substr (0, join (validRecords).size() - 2), 5, "does not end with CR LF" },
        { "stray CR", withRecord (0, ":020000040800F2\r"), 1, "unexpected CR at column 16" },
        { "no end-of-file record", join ({ validRecords.begin(), validRecords.end() - 1 }), 5, "end-of-file record (:00000001FF) missing" },
        { "empty file", "", 1, "end-of-file record (:00000001FF) missing" },
        { "record after end of file", join (validRecords) + ":00000001FF\r\n", 6, "after the end-of-file record" },
        { "blank line after end of file", join (validRecords) + "\r\n", 6, "after the end-of-file record" },
        { "end of file in the middle", withRecord (2, ":00000001FF"), 4, "after the end-of-file record" },
        { "8-bit byte", withRecord (2, ":10401000000000000000000000000000000000\xc3\xa0"), 3, "byte 0xC3 at column 40 is 0x80 or above" },
        { "F7 inside", withRecord (1, ":\xf7"), 2, "byte 0xF7 at column 2 is 0x80 or above" },
        { "a last slice of 1 byte", withRecord (3, ":3A402000" + std::string (116, '0') + "66"), 5, "257 bytes, leaving a last slice of 1 byte," },
    };

    for (const auto& r : rejections)
    {
        const auto check = firmware_packer::checkIntelHex (r.text);
        EXPECT_FALSE (check.ok) << r.what;
        EXPECT_EQ (check.line, r.line) << r.what;
        EXPECT_NE (check.reason.find (r.reasonContains), std::string::npos) << r.what << ": got \"" << check.reason << "\"";
    }
}

TEST (FirmwarePacker, ReportsTheFirstFaultInFileOrder)
{
    auto records = validRecords;
    records[1] = ":1040000000500020ED400008C3400008C5400008F4";     // checksum
    records[2] = ":10401000000000000000000000000000000000\xc3\xa0"; // 8-bit
    const auto check = firmware_packer::checkIntelHex (join (records));
    EXPECT_EQ (check.line, 2);
    EXPECT_NE (check.reason.find ("checksum"), std::string::npos) << check.reason;
}

TEST (FirmwarePacker, WrapsTheTextUnchanged)
{
    const auto text = join (validRecords);
    const auto image = firmware_packer::packImage (text);

    ASSERT_EQ (image.size(), text.size() + 8);
    EXPECT_EQ (image.substr (0, 7), std::string ("\xf0\x00\x7f\x7f\x00\x2c\x70", 7));
    EXPECT_EQ (image.substr (7, text.size()), text);
    EXPECT_EQ ((unsigned char) image.back(), 0xf7);

    // The header carries the same manufacturer identifier as the other messages.
    EXPECT_EQ (image.substr (1, 3), std::string (reinterpret_cast<const char*> (device_codes::manufacturerId), 3));
}

TEST (FirmwarePacker, EmbeddedImageIsTheOfferedFilePacked)
{
    const std::string embedded (firmwareImage, (size_t) firmwareImageSize);
    EXPECT_EQ (embedded, firmware_packer::packImage (readFile (QB4II_FIRMWARE_HEX)));

    const auto check = firmware_packer::checkIntelHex (embedded.substr (7, embedded.size() - 8));
    EXPECT_TRUE (check.ok) << check.line << ": " << check.reason;
    EXPECT_EQ (check.numRecords, 3265);
    EXPECT_EQ (check.numDataBytes, 52152);
    EXPECT_EQ (embedded.size(), 146777u);
}

TEST (FirmwarePacker, TheOfferedVersionComesFromTheFilesName)
{
    const std::pair<const char*, const char*> names[] = {
        { "resources/firmware/qb4ii-firmware-1.05.hex", "1.05" },
        { "fw-12.34.hex", "12.34" },
        { "1.05.hex", "1.05" },
        { "fw.hex", "" },
        { "fw-1.5.hex", "" }, // two digits after the point, as the controller reports them
        { "fw-1.050.hex", "" },
        { "fw-.05.hex", "" },
        { "fw-1.05.HEX", "" },
        { "fw-1.05.hex.bak", "" },
    };

    for (const auto& [name, version] : names)
        EXPECT_EQ (firmware_packer::versionFromFileName (name), version) << name;

    // A name is only ever a comment in the generated source.
    const auto source = firmware_packer::toCppSource ("\xf0\xf7", "fw\n#error injected\\", "1.05");
    EXPECT_EQ (source.find ("\n#error"), std::string::npos);
    EXPECT_NE (source.find ("// fw?#error injected/\n"), std::string::npos);

    // The build took the embedded image's version from the offered file's name.
    EXPECT_EQ (std::string (firmwareImageVersion), firmware_packer::versionFromFileName (QB4II_FIRMWARE_HEX));
}
