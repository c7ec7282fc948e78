#include "midi/SysexAssembler.h"

void SysexAssembler::feed (const juce::uint8* bytes, size_t length, const Delivery& deliver)
{
    for (size_t i = 0; i < length; ++i)
    {
        const auto byte = bytes[i];

        if (byte == 0xf0)
        {
            message.assign (1, byte);
            dropping = false;
        }
        else if (dropping || message.empty())
        {
            dropping = byte != 0xf7 && dropping;
        }
        else if (message.size() == maxMessageBytes)
        {
            // Too long to be anything the controller says: dropped whole.
            message.clear();
            dropping = byte != 0xf7;
        }
        else
        {
            message.push_back (byte);

            if (byte == 0xf7)
            {
                deliver (message.data(), message.size());
                message.clear();
            }
        }
    }
}
