// Writes the placeholder firmware that the updater offers until the maker's real
// file arrives: an Intel HEX file laid out like the controller's firmware.
//
//   qb4ii_firmware_generator OUT.hex
//
// The output is deterministic and committed as resources/firmware/qb4ii-firmware-1.05.hex.
//
// Memory layout (a Cortex-M0 application behind a 16 KB boot loader):
//   08004000-0800FFFF  application, first 48 KB: vector table, handlers, code
//   08010000-08010B77  application, the rest
//   0801F800-0801F83F  the application's information block (last flash page)
//   start address      080040ED, the reset handler (Thumb)
//
// Records: an extended linear address record before each region (so the value
// 0801 appears twice), 16-byte data records (the last one of a region shorter),
// the start linear address record and the end-of-file record; uppercase hex,
// CR LF line endings.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace
{
    constexpr std::uint32_t applicationStart = 0x08004000;
    constexpr std::uint32_t applicationSize = 0xc000 + 0x0b78; // 52088 bytes
    constexpr std::uint32_t infoBlockStart = 0x0801f800;
    constexpr std::uint32_t infoBlockSize = 0x40;

    constexpr std::uint32_t initialStackPointer = 0x20005000; // top of 20 KB of RAM
    constexpr std::uint32_t resetHandler = 0x080040ec;
    constexpr std::uint32_t thumb = 1;

    constexpr std::uint8_t firmwareVersion[3] { 1, 0, 5 };

    constexpr std::size_t bytesPerRecord = 16;

    struct Region
    {
        std::uint32_t address;
        std::vector<std::uint8_t> bytes;
    };

    void putWord (std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[offset + (std::size_t) i] = (std::uint8_t) (value >> (8 * i));
    }

    void putHalfword (std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value)
    {
        bytes[offset] = (std::uint8_t) value;
        bytes[offset + 1] = (std::uint8_t) (value >> 8);
    }

    std::uint32_t crc32 (const std::vector<std::uint8_t>& bytes)
    {
        std::uint32_t crc = 0xffffffff;

        for (auto byte : bytes)
        {
            crc ^= byte;

            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }

        return ~crc;
    }

    std::vector<std::uint8_t> makeApplication()
    {
        std::vector<std::uint8_t> bytes (applicationSize);

        // Code stand-in: a fixed xorshift sequence, so every run writes the same file.
        std::uint32_t state = 0x51b4c0de;

        for (auto& byte : bytes)
        {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = (std::uint8_t) state;
        }

        // Cortex-M0 vector table: 16 system entries, 32 interrupts.
        constexpr std::uint32_t defaultHandler = applicationStart + 0xc0;
        constexpr std::size_t numVectors = 48;

        for (std::size_t i = 0; i < numVectors; ++i)
            putWord (bytes, 4 * i, 0);

        putWord (bytes, 0x00, initialStackPointer);
        putWord (bytes, 0x04, resetHandler | thumb);
        putWord (bytes, 0x08, (applicationStart + 0xc2) | thumb); // NMI
        putWord (bytes, 0x0c, (applicationStart + 0xc4) | thumb); // HardFault
        putWord (bytes, 0x2c, (applicationStart + 0xc6) | thumb); // SVCall
        putWord (bytes, 0x38, (applicationStart + 0xc8) | thumb); // PendSV
        putWord (bytes, 0x3c, (applicationStart + 0xca) | thumb); // SysTick

        for (std::size_t i = 16; i < numVectors; ++i)
            putWord (bytes, 4 * i, defaultHandler | thumb);

        // The handlers: "b ." each, then NOPs up to the reset handler.
        for (std::size_t offset = 0xc0; offset < 0xcc; offset += 2)
            putHalfword (bytes, offset, 0xe7fe);

        for (std::size_t offset = 0xcc; offset < 0xec; offset += 2)
            putHalfword (bytes, offset, 0xbf00);

        // Reset handler: load the stack pointer, jump to main.
        constexpr std::uint32_t mainFunction = applicationStart + 0x100;
        putHalfword (bytes, 0xec, 0x4802); // ldr r0, [pc, #8]   -> literal at 0xf8
        putHalfword (bytes, 0xee, 0x4685); // mov sp, r0
        putHalfword (bytes, 0xf0, 0x4802); // ldr r0, [pc, #8]   -> literal at 0xfc
        putHalfword (bytes, 0xf2, 0x4700); // bx r0
        putHalfword (bytes, 0xf4, 0xbf00); // nop
        putHalfword (bytes, 0xf6, 0xbf00); // nop
        putWord (bytes, 0xf8, initialStackPointer);
        putWord (bytes, 0xfc, mainFunction | thumb);

        return bytes;
    }

    std::vector<std::uint8_t> makeInfoBlock (const std::vector<std::uint8_t>& application)
    {
        std::vector<std::uint8_t> bytes (infoBlockSize, 0xff);
        const char magic[] = "QB4II";

        for (std::size_t i = 0; i < sizeof (magic) - 1; ++i)
            bytes[i] = (std::uint8_t) magic[i];

        bytes[5] = 0;
        bytes[6] = 0;
        bytes[7] = 0;
        bytes[8] = firmwareVersion[0];
        bytes[9] = firmwareVersion[1];
        bytes[10] = firmwareVersion[2];
        bytes[11] = 0;
        putWord (bytes, 12, applicationStart);
        putWord (bytes, 16, (std::uint32_t) application.size());
        putWord (bytes, 20, crc32 (application));
        return bytes;
    }

    void appendRecord (std::string& out, std::uint8_t type, std::uint16_t offset, const std::uint8_t* data, std::size_t size)
    {
        std::vector<std::uint8_t> record { (std::uint8_t) size, (std::uint8_t) (offset >> 8), (std::uint8_t) offset, type };
        record.insert (record.end(), data, data + size);

        unsigned sum = 0;

        for (auto byte : record)
            sum += byte;

        record.push_back ((std::uint8_t) (0x100u - (sum & 0xffu)));

        out += ':';

        for (auto byte : record)
        {
            char digits[3];
            std::snprintf (digits, sizeof (digits), "%02X", byte);
            out += digits;
        }

        out += "\r\n";
    }

    std::string toIntelHex (const std::vector<Region>& regions, std::uint32_t startAddress)
    {
        std::string out;

        for (const auto& region : regions)
        {
            // Every region opens with its upper address, even when it repeats the last one.
            std::uint32_t upper = region.address >> 16;
            const std::uint8_t upperBytes[2] { (std::uint8_t) (upper >> 8), (std::uint8_t) upper };
            appendRecord (out, 0x04, 0, upperBytes, 2);

            for (std::size_t offset = 0; offset < region.bytes.size(); offset += bytesPerRecord)
            {
                const auto address = region.address + (std::uint32_t) offset;

                if ((address >> 16) != upper)
                {
                    upper = address >> 16;
                    const std::uint8_t nextUpper[2] { (std::uint8_t) (upper >> 8), (std::uint8_t) upper };
                    appendRecord (out, 0x04, 0, nextUpper, 2);
                }

                const auto size = std::min (bytesPerRecord, region.bytes.size() - offset);
                appendRecord (out, 0x00, (std::uint16_t) address, region.bytes.data() + offset, size);
            }
        }

        const std::uint8_t start[4] { (std::uint8_t) (startAddress >> 24), (std::uint8_t) (startAddress >> 16),
                                      (std::uint8_t) (startAddress >> 8), (std::uint8_t) startAddress };
        appendRecord (out, 0x05, 0, start, 4);
        appendRecord (out, 0x01, 0, nullptr, 0);
        return out;
    }
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: " << argv[0] << " OUT.hex\n";
        return 2;
    }

    const auto application = makeApplication();

    // The first 48 KB and the rest of the application lie in different 64 KB pages.
    const auto split = application.begin() + 0xc000;
    const std::vector<Region> regions {
        { applicationStart, { application.begin(), split } },
        { applicationStart + 0xc000, { split, application.end() } },
        { infoBlockStart, makeInfoBlock (application) },
    };

    const auto text = toIntelHex (regions, resetHandler | thumb);

    std::ofstream out (argv[1], std::ios::binary | std::ios::trunc);

    if (! out.write (text.data(), (std::streamsize) text.size()) || ! out.flush())
    {
        std::cerr << argv[1] << ": error: cannot write the file\n";
        return 1;
    }

    return 0;
}
