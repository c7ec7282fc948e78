#pragma once

#include "firmware/DeviceCodes.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstddef>
#include <optional>

/*
    The System Exclusive messages exchanged with the controller. Each is held as a
    constant byte sequence and sent unchanged.
*/

/** The controller's model code. */
constexpr juce::uint8 modelCode = device_codes::modelCode;

/** Universal Non-Real-Time Identity Request to all devices: F0 7E 7F 06 01 F7. */
extern const std::array<juce::uint8, 6> identityRequestMessage;

/** The first 11 bytes of the controller's identity reply:
    F0 7E 00 06 02, the manufacturer identifier, 2C 00 19. */
extern const std::array<juce::uint8, 11> identityReplyPrefix;

/** The exact length of an identity reply, F0 and F7 included. */
constexpr int identityReplyLength = 37;

/** The erase request sent before a normal update. */
extern const std::array<juce::uint8, 16> eraseRequestMessage;

/** The firmware image message: one System Exclusive message carrying the Intel HEX
    text of the offered firmware, F0 first and F7 last. The build validates the
    offered .hex file and wraps it as F0, manufacturer identifier, 00, 2C, 70, the
    text, F7 (tools/firmware_packer); the definitions are generated from it. */
extern const char* const firmwareImage;
extern const int firmwareImageSize;

/** The version of the firmware the image carries, as the window shows it ("1.05"):
    from the HEX file's name, or as the build was told. */
extern const char* const firmwareImageVersion;

/** The SHA-256 digest of the firmware image message's bytes, recorded by the
    build as it packed them. */
extern const std::array<juce::uint8, 32> firmwareImageSha256;

/** Recognises the controller's identity reply and reads its firmware version.

    The message must be System Exclusive, exactly identityReplyLength bytes long
    and start with identityReplyPrefix. The version is formed from bytes 12, 13
    and 14 as the text "b12.b13b14" in decimal (01 00 05 gives 1.05, 01 0A 00 gives
    1.1) and read as a number. Returns nothing for any other message.

    Pure: any thread may call it. */
std::optional<double> parseIdentityReply (const juce::MidiMessage& message);
std::optional<double> parseIdentityReply (const void* data, size_t size);
