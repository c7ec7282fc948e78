#pragma once

/*
    The identifying bytes of the controller's maker-specific System Exclusive
    messages, in plain C++ without JUCE: the build-time firmware packer frames the
    firmware image message with these same definitions, so the identity reply
    prefix, the erase request and the firmware image header can never disagree.
*/
namespace device_codes
{
    /** The maker's three-byte MIDI manufacturer identifier (first byte 00).
        00 7F 7F is a placeholder that no registered maker holds; it is the one
        place to change when the maker's own identifier is known. */
    constexpr unsigned char manufacturerId[3] { 0x00, 0x7f, 0x7f };

    /** The controller's model code: the low byte of the family code in the
        identity reply and the byte after the device byte in the maker's messages. */
    constexpr unsigned char modelCode = 0x2c;

    /** Device byte and command byte of the firmware image message. */
    constexpr unsigned char imageDeviceByte = 0x00;
    constexpr unsigned char imageCommand = 0x70;

    /** Device byte and command byte of the erase request. */
    constexpr unsigned char eraseDeviceByte = 0x7f;
    constexpr unsigned char eraseCommand = 0x75;
} // namespace device_codes
