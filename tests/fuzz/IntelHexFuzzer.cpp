// The firmware packer's Intel HEX reader, on any text. Its verdict is
// consistent (a fault has a line and a reason; a pass has neither), and a text
// it passes is one the controller model takes too once packed: the build never
// embeds firmware the controller would refuse.

#include "FirmwarePacker.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const std::string_view text (reinterpret_cast<const char*> (data), size);
    const auto check = firmware_packer::checkIntelHex (text);

    if (check.ok != (check.line == 0) || check.ok != check.reason.empty())
        fuzzing::broken ("a verdict whose line and reason do not match it");

    if (! check.ok)
        return 0;

    for (auto c : text)
        if ((unsigned char) c >= 0x80)
            fuzzing::broken ("a text with a byte of 0x80 or above passed");

    const auto image = firmware_packer::packImage (text);
    const auto verdict = ControllerEmulator::checkImageContainer (image.data(), image.size());

    if (verdict.isNotEmpty())
    {
        std::fprintf (stderr, "controller model: %s\n", verdict.toRawUTF8());
        fuzzing::broken ("the packer passed a file the controller model refuses");
    }

    return 0;
}
