#include "FirmwarePacker.h"

#include "firmware/DeviceCodes.h"

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

    std::string toCppSource (std::string_view image, std::string_view sourceName, std::string_view version)
    {
        std::string source;
        source.reserve (image.size() * 5 + 1024);

        source += "// Generated at build time by the firmware packer from\n// ";
        source += sourceName;
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
        return source;
    }
} // namespace firmware_packer
