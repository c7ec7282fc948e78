#include "emulator/ControllerEmulator.h"

#include "emulator/MessageThreadScheduler.h"
#include "firmware/DeviceMessages.h"

#include <cstring>

namespace
{
    // The controller's side of the messages, spelled out here rather than taken from
    // the application's constants, so that the two can be checked against each other.
    constexpr juce::uint8 replyPrefix[] = { 0xf0, 0x7e, 0x00, 0x06, 0x02, 0x00, 0x7f, 0x7f, 0x2c, 0x00, 0x19 };
    constexpr juce::uint8 eraseRequest[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x7f, 0x2c, 0x75, 0x00,
                                             0x01, 0x49, 0x01, 0x01, 0x00, 0x00, 0x00, 0xf7 };
    constexpr juce::uint8 imageHeader[] = { 0xf0, 0x00, 0x7f, 0x7f, 0x00, 0x2c, 0x70 };

    constexpr size_t replyLength = 37;
    constexpr juce::uint8 modelNumberHigh = 0x00;
    constexpr char serialText[] = "KORVAN QB4II SN000001"; // bytes 15 to 35 of the reply

    static_assert (sizeof (replyPrefix) + 1 + 3 + sizeof (serialText) - 1 + 1 == replyLength,
                   "the identity reply is 37 bytes long");

    int hexDigit (juce::uint8 c) noexcept
    {
        if (c >= '0' && c <= '9')
            return c - '0';

        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;

        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;

        return -1;
    }
} // namespace

//==============================================================================
ControllerEmulator::ControllerEmulator (Config c, std::unique_ptr<Scheduler> s)
    : config (std::move (c))
    , scheduler (std::move (s))
    , portName (config.portName)
    , version (config.version)
{
    if (scheduler == nullptr)
        scheduler = std::make_unique<MessageThreadScheduler>();

    expectedImage = config.expectedImage.has_value() ? *config.expectedImage
                                                     : juce::MemoryBlock (firmwareImage, (size_t) firmwareImageSize);
}

ControllerEmulator::ControllerEmulator()
    : ControllerEmulator (Config {})
{
}

ControllerEmulator::~ControllerEmulator()
{
    scheduler->cancelAll();
}

void ControllerEmulator::setOutput (Output o)
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    output = std::move (o);
}

void ControllerEmulator::setPresence (Presence p)
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    presence = std::move (p);
}

void ControllerEmulator::setFaults (const Faults& faults)
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    config.faults = faults;
}

//==============================================================================
void ControllerEmulator::receive (const void* data, size_t size)
{
    const std::lock_guard<std::recursive_mutex> sl (lock);

    if (! present)
        return;

    const auto* bytes = static_cast<const juce::uint8*> (data);
    bytesThisCall = 0;

    for (size_t i = 0; i < size && present; ++i)
        receiveByte (bytes[i]);

    if (! sysexOpen)
        return;

    flushBurst();

    const auto& faults = config.faults;

    if (faults.unplugAfterBursts > 0 && burstsOfSysex == faults.unplugAfterBursts && isTakingImage())
    {
        log ("unplugged after burst " + juce::String (burstsOfSysex));
        powerDown();

        if (faults.unplugAfterBurstsForMs >= 0)
            after (faults.unplugAfterBurstsForMs, [this] { appear (hasFirmware ? State::normal : State::noFirmware, true); });
    }
}

void ControllerEmulator::receiveByte (juce::uint8 byte)
{
    if (byte >= 0xf8)
        return; // real-time messages may appear anywhere, even inside a System Exclusive message

    if (byte == 0xf0)
    {
        if (sysexOpen)
            endSysex (false);

        sysexOpen = true;
        sysex.clear();
        sysex.push_back (byte);
        bytesThisCall = 1;
        firstBurstOfSysex = bursts.size();
        burstsOfSysex = 0;
        return;
    }

    if (! sysexOpen)
        return; // other messages, and stray data bytes, mean nothing to the controller

    if (byte < 0x80 || byte == 0xf7)
    {
        sysex.push_back (byte);
        ++bytesThisCall;

        if (byte == 0xf7)
            endSysex (true);

        return;
    }

    endSysex (false); // any other status byte cuts the open message off
}

void ControllerEmulator::endSysex (bool complete)
{
    sysexOpen = false;
    const juce::MemoryBlock message (sysex.data(), sysex.size());
    const auto kind = complete ? classify (message) : SysexKind::other;

    if (kind == SysexKind::other)
    {
        flushBurst();
    }
    else
    {
        // Not an image after all: forget the bursts it was taken for.
        bursts.resize (firstBurstOfSysex);
        bytesThisCall = 0;
    }

    if (! complete)
    {
        if (isTakingImage())
        {
            lastImage = message;
            loseImage ("cut off by a status byte");
        }

        return;
    }

    switch (kind)
    {
        case SysexKind::identityRequest:
            handleIdentityRequest();
            break;
        case SysexKind::eraseRequest:
            handleEraseRequest();
            break;
        case SysexKind::other:
            if (isTakingImage())
                handleImage (message);
            break;
    }
}

void ControllerEmulator::flushBurst()
{
    if (bytesThisCall == 0 || ! isTakingImage())
        return;

    bursts.push_back ({ scheduler->getTimeMs(), bytesThisCall });
    bytesThisCall = 0;
    ++burstsOfSysex;
    log ("burst " + juce::String (burstsOfSysex));

    if (config.faults.mixUnrelatedMidi)
        sendUnrelatedMidi();
}

bool ControllerEmulator::isTakingImage() const noexcept
{
    return present && ! resetPending && (state == State::receiving || state == State::bootloader);
}

ControllerEmulator::SysexKind ControllerEmulator::classify (const juce::MemoryBlock& message)
{
    const auto* b = static_cast<const juce::uint8*> (message.getData());

    if (message.getSize() == 6 && b[0] == 0xf0 && b[1] == 0x7e && (b[2] == 0x7f || b[2] == 0x00)
        && b[3] == 0x06 && b[4] == 0x01 && b[5] == 0xf7)
        return SysexKind::identityRequest;

    if (message.matches (eraseRequest, sizeof (eraseRequest)))
        return SysexKind::eraseRequest;

    return SysexKind::other;
}

//==============================================================================
void ControllerEmulator::handleIdentityRequest()
{
    ++counts.identityRequests;

    if (state != State::normal || resetPending)
    {
        log (juce::String ("identity ignored (") + getStateName (state) + ")");
        return;
    }

    if (config.faults.neverAnswer)
    {
        log ("identity not answered");
        return;
    }

    const auto reply = makeReply();
    const auto answer = [this, reply] {
        send (reply);
        ++counts.identityReplies;
        log ("identity answered");
    };

    if (config.faults.replyDelayMs > 0)
        after (config.faults.replyDelayMs, answer);
    else
        answer();
}

void ControllerEmulator::handleEraseRequest()
{
    ++counts.eraseRequests;

    if (state != State::normal || resetPending)
    {
        log (juce::String ("erase ignored (") + getStateName (state) + ")");
        return;
    }

    log ("erase");
    hasFirmware = false;
    state = State::receiving;

    if (const auto awayMs = config.faults.unplugDuringEraseWaitMs; awayMs > 0)
    {
        vanish();
        after (awayMs, [this] { appear (State::receiving, true); });
    }
}

void ControllerEmulator::handleImage (const juce::MemoryBlock& image)
{
    lastImage = image;

    if (const auto problem = verifyImage (image); problem.isNotEmpty())
    {
        ++counts.imagesRejected;
        log ("image rejected: " + problem);

        if (state == State::receiving)
            state = State::noFirmware;

        return;
    }

    ++counts.imagesAccepted;
    log ("image verified");
    hasFirmware = true;
    version = config.versionAfterUpdate;
    resetPending = true;

    after (config.resetDelayMs, [this] {
        log ("reset");
        resetPending = false;
        state = State::normal;
        vanish();
        after (config.resetDurationMs, [this] { appear (State::normal, true); });
    });
}

void ControllerEmulator::loseImage (const juce::String& why)
{
    ++counts.imagesRejected;
    log ("image lost: " + why);

    if (state == State::receiving)
        state = State::noFirmware;
}

juce::String ControllerEmulator::verifyImage (const juce::MemoryBlock& image) const
{
    if (config.imageCheck == ImageCheck::headerAndChecksums)
        return checkImageContainer (image.getData(), image.getSize());

    if (image.getSize() != expectedImage.getSize())
        return juce::String (image.getSize()) + " bytes instead of " + juce::String (expectedImage.getSize());

    for (size_t i = 0; i < image.getSize(); ++i)
        if (image[i] != expectedImage[i])
            return "differs from the expected image at byte " + juce::String (i);

    return {};
}

juce::String ControllerEmulator::checkImageContainer (const void* data, size_t size)
{
    const auto* b = static_cast<const juce::uint8*> (data);

    if (size < sizeof (imageHeader) + 1 || std::memcmp (b, imageHeader, sizeof (imageHeader)) != 0)
        return "wrong header";

    if (b[size - 1] != 0xf7)
        return "no F7 at the end";

    const auto end = size - 1;
    size_t pos = sizeof (imageHeader);
    int record = 0;
    bool endOfFile = false;
    const auto problem = [&record] (const char* what) { return "record " + juce::String (record) + what; };

    while (pos < end)
    {
        if (endOfFile)
            return "text after the end-of-file record";

        if (b[pos] != ':')
            return problem (" does not start with a colon");

        auto lineEnd = ++pos;

        while (lineEnd < end && b[lineEnd] != '\r' && b[lineEnd] != '\n')
            ++lineEnd;

        if (lineEnd + 1 >= end || b[lineEnd] != '\r' || b[lineEnd + 1] != '\n')
            return problem (" does not end with CR LF");

        if ((lineEnd - pos) % 2 != 0)
            return problem (" has an odd number of hex digits");

        std::vector<int> fields;

        for (; pos < lineEnd; pos += 2)
        {
            const auto high = hexDigit (b[pos]), low = hexDigit (b[pos + 1]);

            if (high < 0 || low < 0)
                return problem (" has a character that is not a hex digit");

            fields.push_back (high * 16 + low);
        }

        pos += 2;

        if (fields.size() < 5 || (size_t) fields[0] != fields.size() - 5)
            return problem (" has a wrong byte count");

        int sum = 0;

        for (auto f : fields)
            sum += f;

        if ((sum & 0xff) != 0)
            return problem (" has a wrong checksum");

        endOfFile = fields[3] == 0x01;
        ++record;
    }

    if (! endOfFile)
        return "no end-of-file record";

    return {};
}

//==============================================================================
juce::MemoryBlock ControllerEmulator::buildIdentityReply (const Version& v)
{
    juce::MemoryBlock reply (replyPrefix, sizeof (replyPrefix));
    reply.append (&modelNumberHigh, 1);
    reply.append (v.data(), v.size());
    reply.append (serialText, sizeof (serialText) - 1);
    const juce::uint8 end = 0xf7;
    reply.append (&end, 1);
    jassert (reply.getSize() == replyLength);
    return reply;
}

juce::MemoryBlock ControllerEmulator::makeReply() const
{
    auto reply = buildIdentityReply (version);
    const auto& faults = config.faults;

    if (juce::isPositiveAndBelow (faults.corruptPrefixOffset, (int) sizeof (replyPrefix)))
        reply[faults.corruptPrefixOffset] = (char) faults.corruptPrefixValue;

    if (faults.replyLength >= 2 && (size_t) faults.replyLength != replyLength)
    {
        // Cut or pad the body; the F7 stays last.
        const auto newLength = (size_t) faults.replyLength;
        reply.setSize (newLength - 1, true);
        const juce::uint8 end = 0xf7;
        reply.append (&end, 1);
    }

    return reply;
}

void ControllerEmulator::send (const juce::MemoryBlock& message)
{
    if (present && output)
        output (message);
}

void ControllerEmulator::sendUnrelatedMidi()
{
    const juce::uint8 clock[] = { 0xf8 };
    const juce::uint8 noteOn[] = { 0x90, 0x3c, 0x64 };
    const juce::uint8 noteOff[] = { 0x80, 0x3c, 0x00 };

    send (juce::MemoryBlock (clock, sizeof (clock)));
    send (nextUnrelatedIsNoteOn ? juce::MemoryBlock (noteOn, sizeof (noteOn))
                                : juce::MemoryBlock (noteOff, sizeof (noteOff)));
    nextUnrelatedIsNoteOn = ! nextUnrelatedIsNoteOn;
}

//==============================================================================
void ControllerEmulator::powerUp()
{
    const std::lock_guard<std::recursive_mutex> sl (lock);

    if (! present)
        appear (hasFirmware ? State::normal : State::noFirmware, false);
}

void ControllerEmulator::powerUpInBootloader()
{
    const std::lock_guard<std::recursive_mutex> sl (lock);

    powerDown();
    log ("bootloader");
    appear (State::bootloader, false);
}

void ControllerEmulator::powerDown()
{
    const std::lock_guard<std::recursive_mutex> sl (lock);

    if (! present)
        return;

    if (sysexOpen && isTakingImage())
    {
        lastImage = juce::MemoryBlock (sysex.data(), sysex.size());
        loseImage ("unplugged");
    }

    if (resetPending)
    {
        // The new firmware was in place before the power went.
        resetPending = false;
        state = State::normal;
    }

    if (state == State::receiving)
        state = State::noFirmware;

    vanish();
}

void ControllerEmulator::appear (State newState, bool returning)
{
    if (returning && config.faults.comeBackUnderAlternateName)
        portName = config.alternatePortName;

    state = newState;
    present = true;
    ++epoch;
    log ("ports appear as " + portName);

    if (presence)
        presence (true, portName);
}

void ControllerEmulator::vanish()
{
    present = false;
    sysexOpen = false;
    ++epoch;
    log ("ports vanish");

    if (presence)
        presence (false, portName);
}

void ControllerEmulator::after (int delayMs, std::function<void()> task)
{
    const auto scheduledIn = epoch;

    scheduler->schedule (delayMs, [this, scheduledIn, task = std::move (task)] {
        const std::lock_guard<std::recursive_mutex> sl (lock);

        // A timed event lapses when the controller came or went since.
        if (epoch == scheduledIn)
            task();
    });
}

void ControllerEmulator::log (const juce::String& line)
{
    phaseLog.add (line);
}

//==============================================================================
ControllerEmulator::State ControllerEmulator::getState() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return state;
}

bool ControllerEmulator::isPresent() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return present;
}

juce::String ControllerEmulator::getPortName() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return portName;
}

ControllerEmulator::Version ControllerEmulator::getVersion() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return version;
}

ControllerEmulator::Counts ControllerEmulator::getCounts() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return counts;
}

juce::MemoryBlock ControllerEmulator::getLastImage() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return lastImage;
}

std::vector<ControllerEmulator::Burst> ControllerEmulator::getBursts() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return bursts;
}

juce::StringArray ControllerEmulator::getPhaseLog() const
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    return phaseLog;
}

void ControllerEmulator::clearRecords()
{
    const std::lock_guard<std::recursive_mutex> sl (lock);
    bursts = {};
    phaseLog.clear();
}

const char* ControllerEmulator::getStateName (State s)
{
    switch (s)
    {
        case State::normal:
            return "normal";
        case State::receiving:
            return "receiving";
        case State::noFirmware:
            return "no firmware";
        case State::bootloader:
            return "bootloader";
    }

    return "";
}
