#include "firmware/FirmwareImage.h"

#include "firmware/DeviceMessages.h"

#include <juce_cryptography/juce_cryptography.h>

FirmwareImage::FirmwareImage (const char* b, int s, juce::String v, const Digest& d)
    : bytes (b)
    , size (s)
    , version (std::move (v))
    , recordedDigest (d)
{
}

FirmwareImage FirmwareImage::embedded()
{
    return { firmwareImage, firmwareImageSize, firmwareImageVersion, firmwareImageSha256 };
}

bool FirmwareImage::isIntact() const
{
    if (bytes == nullptr || size <= 0)
        return false;

    const auto digest = juce::SHA256 (bytes, (size_t) size).getRawData();
    return digest.getSize() == recordedDigest.size()
           && std::equal (recordedDigest.begin(), recordedDigest.end(), static_cast<const juce::uint8*> (digest.getData()));
}
