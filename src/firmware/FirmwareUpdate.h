#pragma once

#include <juce_core/juce_core.h>

/**
    One firmware transfer job: the bytes to stream to the controller, the erase
    request sent alone before them (empty for an emergency update), the output
    port to use and the pacing. The bytes are cut into numbered blocks on demand.

    Nothing changes after construction. The update engine holds updates by Ptr;
    a sender keeps a plain pointer, so an update must outlive its sender.

    A block size of 0 cuts nothing: the update then has 0 blocks and getBlock()
    returns an empty block for every index, so a sender built on it sends no
    data. (The engine always passes 256.)
*/
class FirmwareUpdate final : public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<FirmwareUpdate>;

    /** Emergency form: copies size bytes from bytes (none when size is 0 or
        negative, or bytes is null); there is no erase request. */
    FirmwareUpdate (const char* bytes,
                    const int& size,
                    const unsigned& blockSize,
                    const int& blockInterval,
                    const juce::String& deviceName);

    /** Normal form: copies the erase request and the data. */
    FirmwareUpdate (const juce::Array<char>& eraseRequest,
                    const juce::Array<char>& data,
                    const unsigned& blockSize,
                    const int& blockInterval,
                    const juce::String& deviceName);

    ~FirmwareUpdate() override;

    /** Block number index: bytes blockSize * index up to, not including, the
        smaller of blockSize * (index + 1) and the data size. An index that is
        negative or at or past getNumBlocks() gives an empty block.
        Message thread. */
    juce::Array<char> getBlock (int index) const;

    /** The number of blocks: the data size divided by the block size, rounded
        up; 0 for empty data or a block size of 0. */
    unsigned getNumBlocks() const noexcept { return numBlocks; }

    /** Milliseconds between two blocks. */
    int getBlockInterval() const noexcept { return blockInterval; }

    /** The MIDI output port the update goes to. */
    juce::String getDeviceName() const { return deviceName; }

    /** The message sent alone before the blocks; empty for an emergency update. */
    juce::Array<char> getEraseRequest() const { return eraseRequest; }

    /** numBlocks for this many bytes in blocks of blockSize (0 when blockSize is 0). */
    static unsigned numBlocksFor (unsigned size, unsigned blockSize) noexcept;

private:
    const juce::Array<char> data;
    const juce::Array<char> eraseRequest;
    const juce::String deviceName;
    const unsigned blockSize;
    const int blockInterval;
    const unsigned numBlocks;

    static juce::Array<char> copyBytes (const char* bytes, int size);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpdate)
};
