#include "FirmwarePacker.h"

#include "firmware/DeviceCodes.h"
#include "firmware/FirmwareTiming.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace firmware_packer
{
    namespace
    {
        constexpr int headerBytes = 4; // byte count, two address bytes, record type
        constexpr int checksumBytes = 1;

        enum RecordType
        {
            data = 0x00,
            endOfFile = 0x01,
            extendedSegmentAddress = 0x02,
            startSegmentAddress = 0x03,
            extendedLinearAddress = 0x04,
            startLinearAddress = 0x05
        };

        std::string hexByte (unsigned value)
        {
            char text[8];
            std::snprintf (text, sizeof (text), "0x%02X", value & 0xffu);
            return text;
        }

        int hexDigitValue (char c)
        {
            if (c >= '0' && c <= '9')
                return c - '0';

            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;

            return -1;
        }

        std::string describeCharacter (char c)
        {
            const auto value = (unsigned char) c;

            if (value == '\r')
                return "CR";

            if (value >= 0x20 && value < 0x7f)
                return std::string ("character '") + c + "'";

            return "byte " + hexByte (value);
        }

        /** The data length each record type needs, or -1 for any length. */
        int requiredDataLength (int type)
        {
            switch (type)
            {
                case data:
                    return -1;
                case endOfFile:
                    return 0;
                case extendedSegmentAddress:
                case extendedLinearAddress:
                    return 2;
                case startSegmentAddress:
                case startLinearAddress:
                    return 4;
                default:
                    return -1;
            }
        }

        /** Checks one line, CR LF already removed. Returns the reason for
            rejecting it, or an empty string and the record's bytes. */
        std::string checkRecord (std::string_view record, std::vector<unsigned char>& bytes)
        {
            if (record.empty() || record[0] != ':')
                return "record does not start with ':'";

            for (size_t i = 1; i < record.size(); ++i)
            {
                const auto c = record[i];

                if (c >= 'a' && c <= 'f')
                    return "lowercase hex digit '" + std::string (1, c) + "' at column " + std::to_string (i + 1)
                           + " (records must be uppercase)";

                if (hexDigitValue (c) < 0)
                    return "unexpected " + describeCharacter (c) + " at column " + std::to_string (i + 1)
                           + " (records hold only uppercase hex digits)";
            }

            const auto digits = record.substr (1);

            if (digits.size() % 2 != 0)
                return "odd number of hex digits (" + std::to_string (digits.size()) + ")";

            bytes.clear();

            for (size_t i = 0; i < digits.size(); i += 2)
                bytes.push_back ((unsigned char) (hexDigitValue (digits[i]) * 16 + hexDigitValue (digits[i + 1])));

            if ((int) bytes.size() < headerBytes + checksumBytes)
                return "record too short (" + std::to_string (bytes.size())
                       + " bytes; count, address, type and checksum need 5)";

            const int count = bytes[0];
            const int actual = (int) bytes.size() - headerBytes - checksumBytes;

            if (count != actual)
                return "byte count " + hexByte ((unsigned) count) + " says " + std::to_string (count)
                       + " data bytes but the record holds " + std::to_string (actual);

            unsigned sum = 0;

            for (size_t i = 0; i + 1 < bytes.size(); ++i)
                sum += bytes[i];

            const auto expected = (0x100u - (sum & 0xffu)) & 0xffu;

            if (bytes.back() != expected)
                return "checksum is " + hexByte (bytes.back()) + " but the record's bytes give " + hexByte (expected);

            const int type = bytes[3];

            if (type > startLinearAddress)
                return "unknown record type " + hexByte ((unsigned) type);

            const auto required = requiredDataLength (type);

            if (required >= 0 && count != required)
                return "record type " + hexByte ((unsigned) type) + " needs " + std::to_string (required)
                       + " data bytes, not " + std::to_string (count);

            return {};
        }
    } // namespace

    HexCheck checkIntelHex (std::string_view text)
    {
        HexCheck result;
        std::vector<unsigned char> bytes;
        bool endOfFileSeen = false;
        size_t position = 0;
        int lineNumber = 0;

        const auto fail = [&result] (int line, std::string reason) {
            result.ok = false;
            result.line = line;
            result.reason = std::move (reason);
            return result;
        };

        while (position < text.size())
        {
            ++lineNumber;

            const auto lineFeed = text.find ('\n', position);
            const auto hasLineFeed = lineFeed != std::string_view::npos;
            auto line = text.substr (position, (hasLineFeed ? lineFeed : text.size()) - position);
            position = hasLineFeed ? lineFeed + 1 : text.size();

            for (size_t i = 0; i < line.size(); ++i)
                if ((unsigned char) line[i] >= 0x80)
                    return fail (lineNumber, "byte " + hexByte ((unsigned char) line[i]) + " at column " + std::to_string (i + 1)
                                                 + " is 0x80 or above and cannot travel as 7-bit System Exclusive data");

            if (endOfFileSeen)
                return fail (lineNumber, "text after the end-of-file record (it must be the last record)");

            if (! hasLineFeed || line.empty() || line.back() != '\r')
                return fail (lineNumber, "line does not end with CR LF");

            line.remove_suffix (1);

            const auto reason = checkRecord (line, bytes);

            if (! reason.empty())
                return fail (lineNumber, reason);

            ++result.numRecords;

            if (bytes[3] == data)
                result.numDataBytes += bytes[0];
            else if (bytes[3] == endOfFile)
                endOfFileSeen = true;
        }

        if (! endOfFileSeen)
            return fail (lineNumber + 1, "end-of-file record (:00000001FF) missing");

        // Windows' MIDI output sends a message of 3 bytes or fewer as a packed short
        // message, which a slice in the middle of System Exclusive is not: it would
        // be lost, and the controller would wait for the image's end for ever.
        const auto imageSize = imageHeader().size() + text.size() + 1;
        const auto lastSlice = imageSize % FirmwareTiming().blockSize;

        if (lastSlice >= 1 && lastSlice <= 3)
            return fail (lineNumber, "the firmware image message would be " + std::to_string (imageSize) + " bytes, leaving a last slice of "
                                         + std::to_string (lastSlice) + (lastSlice == 1 ? " byte" : " bytes")
                                         + ", which Windows would send as a short message and lose");

        result.ok = true;
        return result;
    }

    std::string imageHeader()
    {
        using namespace device_codes;

        return { (char) 0xf0,
                 (char) manufacturerId[0], (char) manufacturerId[1], (char) manufacturerId[2],
                 (char) imageDeviceByte,
                 (char) modelCode,
                 (char) imageCommand };
    }

    std::string packImage (std::string_view hexText)
    {
        auto image = imageHeader();
        image.append (hexText.data(), hexText.size());
        image.push_back ((char) 0xf7);
        return image;
    }

    std::string versionFromFileName (std::string_view path)
    {
        const std::string_view suffix (".hex");

        if (path.size() < suffix.size() + 4 || path.substr (path.size() - suffix.size()) != suffix)
            return {};

        // D+ "." D D, preceded by something that is not a digit or the start.
        const auto stem = path.substr (0, path.size() - suffix.size());
        const auto isDigit = [] (char c) { return c >= '0' && c <= '9'; };
        const auto n = stem.size();

        if (! isDigit (stem[n - 1]) || ! isDigit (stem[n - 2]) || stem[n - 3] != '.')
            return {};

        auto start = n - 3;
        while (start > 0 && isDigit (stem[start - 1]))
            --start;

        if (start == n - 3)
            return {};

        return std::string (stem.substr (start));
    }

    std::array<unsigned char, 32> sha256 (std::string_view bytes)
    {
        static constexpr std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
            0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
            0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
            0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
            0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
            0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
            0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2
        };
        std::uint32_t h[8] = { 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19 };

        // The message, a one bit, zeros, and its length in bits: a whole number of 64-byte blocks.
        std::string padded (bytes);
        padded += (char) 0x80;
        while (padded.size() % 64 != 56)
            padded += (char) 0;
        for (int shift = 56; shift >= 0; shift -= 8)
            padded += (char) (((std::uint64_t) bytes.size() * 8) >> shift);

        const auto rotr = [] (std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };

        for (size_t block = 0; block < padded.size(); block += 64)
        {
            std::uint32_t w[64];
            for (int i = 0; i < 16; ++i)
                w[i] = (std::uint32_t) (unsigned char) padded[block + 4 * (size_t) i] << 24
                       | (std::uint32_t) (unsigned char) padded[block + 4 * (size_t) i + 1] << 16
                       | (std::uint32_t) (unsigned char) padded[block + 4 * (size_t) i + 2] << 8
                       | (std::uint32_t) (unsigned char) padded[block + 4 * (size_t) i + 3];
            for (int i = 16; i < 64; ++i)
                w[i] = w[i - 16] + (rotr (w[i - 15], 7) ^ rotr (w[i - 15], 18) ^ (w[i - 15] >> 3)) + w[i - 7]
                       + (rotr (w[i - 2], 17) ^ rotr (w[i - 2], 19) ^ (w[i - 2] >> 10));

            std::uint32_t v[8];
            std::copy (h, h + 8, v);

            for (int i = 0; i < 64; ++i)
            {
                const auto t1 = v[7] + (rotr (v[4], 6) ^ rotr (v[4], 11) ^ rotr (v[4], 25)) + ((v[4] & v[5]) ^ (~v[4] & v[6])) + k[i] + w[i];
                const auto t2 = (rotr (v[0], 2) ^ rotr (v[0], 13) ^ rotr (v[0], 22)) + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
                std::copy_backward (v, v + 7, v + 8);
                v[4] += t1;
                v[0] = t1 + t2;
            }

            for (int i = 0; i < 8; ++i)
                h[i] += v[i];
        }

        std::array<unsigned char, 32> digest {};
        for (size_t i = 0; i < 32; ++i)
            digest[i] = (unsigned char) (h[i / 4] >> (24 - 8 * (i % 4)));
        return digest;
    }

    std::string toCppSource (std::string_view image, std::string_view sourceName, std::string_view version)
    {
        std::string source;
        source.reserve (image.size() * 5 + 1024);

        // The name goes into a comment: no byte of it may end the comment's line
        // (a line break, or a backslash splicing the next line in).
        source += "// Generated at build time by the firmware packer from\n// ";
        for (const auto c : sourceName)
        {
            const bool printable = c >= 0x20 && c <= 0x7e;
            const char shown = printable ? c : '?';
            source += c == '\\' ? '/' : shown;
        }
        source += "\n// Do not edit: change the .hex file instead.\n\n";
        source += "#include \"firmware/DeviceMessages.h\"\n\n";
        source += "namespace\n{\n    const unsigned char firmwareImageBytes[" + std::to_string (image.size()) + "] = {";

        for (size_t i = 0; i < image.size(); ++i)
        {
            source += (i % 24 == 0) ? "\n        " : " ";
            source += std::to_string ((unsigned char) image[i]);
            source += ",";
        }

        source += "\n    };\n} // namespace\n\n";
        source += "const char* const firmwareImage = reinterpret_cast<const char*> (firmwareImageBytes);\n";
        source += "const int firmwareImageSize = " + std::to_string (image.size()) + ";\n";
        source += "const char* const firmwareImageVersion = \"" + std::string (version) + "\";\n";

        // Checked by the updater before it sends the image.
        source += "const std::array<juce::uint8, 32> firmwareImageSha256 { {";
        for (const auto byte : sha256 (image))
            source += " " + std::to_string (byte) + ",";
        source += " } };\n";
        return source;
    }
} // namespace firmware_packer
