#pragma once

#include <juce_core/juce_core.h>

#include <array>

/**
    The firmware image message an update sends, as the engine holds it: its bytes
    (not owned), the firmware version it carries and the SHA-256 digest the build
    recorded when it packed them. The window shows the version of the image that
    is sent, and nothing is sent of an image whose bytes no longer match their
    digest.

    Pure: any thread.
*/
class FirmwareImage final
{
public:
    using Digest = std::array<juce::uint8, 32>;

    /** An image over bytes that must outlive it. */
    FirmwareImage (const char* bytes, int size, juce::String version, const Digest& recordedDigest);

    /** The image built into the program. */
    static FirmwareImage embedded();

    /** True when the bytes' SHA-256 is the recorded one. */
    bool isIntact() const;

    const char* getData() const noexcept { return bytes; }
    int getSize() const noexcept { return size; }

    /** As the window shows it: "1.05". */
    const juce::String& getVersion() const noexcept { return version; }

    /** As the controller's identity reply is read: 1.05. */
    double getVersionNumber() const { return version.getDoubleValue(); }

private:
    const char* bytes;
    int size;
    juce::String version;
    Digest recordedDigest;
};
