#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

/*
    Validates the maker's Intel HEX firmware file and wraps it, unchanged, into
    the firmware image message that the updater embeds and streams:

        F0, manufacturer identifier, 00, 2C, 70, the HEX text, F7

    Plain C++ (no JUCE): it runs at build time, before the program's own code
    is compiled.
*/
namespace firmware_packer
{
    /** What checkIntelHex() found. */
    struct HexCheck
    {
        bool ok = false;

        /** 1-based line of the first fault; 0 when the text is valid. */
        int line = 0;

        /** Why that line was rejected; empty when the text is valid. */
        std::string reason;

        /** Records and data-record payload bytes seen (up to the fault, if any). */
        int numRecords = 0;
        long numDataBytes = 0;
    };

    /** Checks that the text is an Intel HEX file the controller can be sent
        as is: every line is a colon, uppercase hexadecimal digits whose byte
        count matches the data, and CR LF; every checksum is right; record types
        are known and their lengths fit them; the end-of-file record is present
        and last; no byte is 0x80 or above (the text travels as 7-bit System
        Exclusive data); and the packed image does not end in a slice of 1 to 3
        bytes (Windows would send it as a short message). Reports the first fault
        in file order. */
    HexCheck checkIntelHex (std::string_view text);

    /** The 7 bytes in front of the HEX text: F0, the manufacturer identifier,
        the device byte 00, the model code 2C and the command 70. */
    std::string imageHeader();

    /** imageHeader(), the text unchanged, F7. Does not validate. */
    std::string packImage (std::string_view hexText);

    /** The SHA-256 digest of the bytes (FIPS 180-4). */
    std::array<unsigned char, 32> sha256 (std::string_view bytes);

    /** A C++ source file defining firmwareImage, firmwareImageSize,
        firmwareImageVersion and firmwareImageSha256 (declared in
        firmware/DeviceMessages.h) with the bytes of the packed image, the version
        it carries and the image's digest; sourceName is mentioned in its opening
        comment, its backslashes as '/' and any byte outside printable ASCII as
        '?'. The version must be one versionFromFileName() gives. */
    std::string toCppSource (std::string_view image, std::string_view sourceName, std::string_view version);

    /** The firmware version a file's name gives, as in "qb4ii-firmware-1.05.hex":
        the digits, a point and two digits just before ".hex". Empty when the
        name gives none. */
    std::string versionFromFileName (std::string_view path);
} // namespace firmware_packer
