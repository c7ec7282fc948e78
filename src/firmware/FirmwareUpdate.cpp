#include "firmware/FirmwareUpdate.h"

FirmwareUpdate::FirmwareUpdate (const char* bytes,
                                const int& size,
                                const unsigned& blockSizeToUse,
                                const int& blockIntervalToUse,
                                const juce::String& deviceNameToUse)
    : data (copyBytes (bytes, size))
    , deviceName (deviceNameToUse)
    , blockSize (blockSizeToUse)
    , blockInterval (blockIntervalToUse)
    , numBlocks (numBlocksFor ((unsigned) data.size(), blockSize))
{
}

FirmwareUpdate::FirmwareUpdate (const juce::Array<char>& eraseRequestToUse,
                                const juce::Array<char>& dataToUse,
                                const unsigned& blockSizeToUse,
                                const int& blockIntervalToUse,
                                const juce::String& deviceNameToUse)
    : data (dataToUse)
    , eraseRequest (eraseRequestToUse)
    , deviceName (deviceNameToUse)
    , blockSize (blockSizeToUse)
    , blockInterval (blockIntervalToUse)
    , numBlocks (numBlocksFor ((unsigned) data.size(), blockSize))
{
}

FirmwareUpdate::~FirmwareUpdate() = default;

unsigned FirmwareUpdate::numBlocksFor (unsigned size, unsigned blockSizeToUse) noexcept
{
    if (blockSizeToUse == 0)
        return 0;

    return size / blockSizeToUse + (size % blockSizeToUse != 0 ? 1u : 0u);
}

juce::Array<char> FirmwareUpdate::getBlock (int index) const
{
    if (index < 0 || blockSize == 0)
        return {};

    // 64-bit: index * blockSize may exceed any 32-bit range.
    const auto size = (juce::int64) data.size();
    const auto start = (juce::int64) index * (juce::int64) blockSize;
    const auto end = juce::jmin (start + (juce::int64) blockSize, size);

    if (start >= end)
        return {};

    return juce::Array<char> (data.begin() + start, (int) (end - start));
}

juce::Array<char> FirmwareUpdate::copyBytes (const char* bytes, int size)
{
    if (bytes == nullptr || size <= 0)
        return {};

    return juce::Array<char> (bytes, size);
}
