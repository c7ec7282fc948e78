#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <vector>

/**
    Puts System Exclusive messages together from the pieces a MIDI system
    delivers them in, up to maxMessageBytes.

    Only whole messages come out, each from its F0 to its F7. An F0 inside a
    message starts a new one (the unfinished one is lost); bytes outside a
    message, a stray F7 among them, are ignored. A message longer than
    maxMessageBytes is dropped whole, with everything up to its F7 or the next
    F0, so an endless one costs no more memory than that.

    Pure and platform-free. Not thread-safe: one thread feeds it (a MIDI input
    thread).
*/
class SysexAssembler final
{
public:
    /** The longest message delivered; the controller's identity reply is 37 bytes. */
    static constexpr size_t maxMessageBytes = 4096;

    SysexAssembler() = default;

    /** Called once per whole message, with its bytes, F0 and F7 included. */
    using Delivery = std::function<void (const juce::uint8* message, size_t size)>;

    /** Takes the next piece, calling deliver for each message it completes. */
    void feed (const juce::uint8* bytes, size_t length, const Delivery& deliver);

    /** True while a message has begun and not ended, dropped or not. */
    bool isInsideMessage() const noexcept { return ! message.empty() || dropping; }

private:
    std::vector<juce::uint8> message; // from its F0; empty outside a message
    bool dropping = false;            // inside a message too long to keep

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SysexAssembler)
};
