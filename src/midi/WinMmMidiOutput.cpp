#include "midi/WinMmMidiOutput.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <optional>
#include <vector>

/** A long message's header and bytes, on the heap: a driver that never hands
    them back may still write into them. */
struct WinMmMidiOutput::Buffer
{
    MIDIHDR header {};
    std::vector<char> bytes;
};

namespace
{
    /** WinMM's own name for the device with this number, as the framework reads
        it; nothing when its capabilities cannot be read. */
    std::optional<juce::String> nameOf (WinMmMidiOutput::Direction direction, UINT deviceId)
    {
        if (direction == WinMmMidiOutput::Direction::input)
        {
            MIDIINCAPSW caps {};
            if (midiInGetDevCapsW (deviceId, &caps, sizeof (caps)) == MMSYSERR_NOERROR)
                return juce::String (caps.szPname);
        }
        else
        {
            MIDIOUTCAPSW caps {};
            if (midiOutGetDevCapsW (deviceId, &caps, sizeof (caps)) == MMSYSERR_NOERROR)
                return juce::String (caps.szPname);
        }

        return std::nullopt;
    }
} // namespace

std::vector<WinMmMidiOutput::Port> WinMmMidiOutput::listPorts (Direction direction)
{
    const bool inputs = direction == Direction::input;
    juce::Array<juce::MidiDeviceInfo> listed;

    // Both lists are walked in turn and a device may come or go in between:
    // they are walked again until they agree, port for port.
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        listed = inputs ? juce::MidiInput::getAvailableDevices() : juce::MidiOutput::getAvailableDevices();

        juce::StringArray names;
        std::vector<int> deviceIds;
        const auto numDevices = inputs ? midiInGetNumDevs() : midiOutGetNumDevs();

        for (UINT id = 0; id < numDevices; ++id)
        {
            if (const auto name = nameOf (direction, id))
            {
                names.add (*name);
                deviceIds.push_back ((int) id);
            }
        }

        // The names as the framework lists them: it numbers a name's later ports.
        auto renamed = names;
        renamed.appendNumbersToDuplicates (false, false, juce::CharPointer_UTF8 ("-"), juce::CharPointer_UTF8 (""));

        auto agree = renamed.size() == listed.size();

        for (int k = 0; agree && k < listed.size(); ++k)
            agree = renamed[k] == listed[k].name;

        if (! agree)
            continue;

        std::vector<Port> ports;

        for (int k = 0; k < listed.size(); ++k)
            ports.push_back ({ { names[k], listed[k].identifier }, deviceIds[(size_t) k] });

        return ports;
    }

    // Still changing: listed as the framework has them, and none opens.
    std::vector<Port> ports;

    for (const auto& info : listed)
        ports.push_back ({ info, -1 });

    return ports;
}

std::unique_ptr<WinMmMidiOutput> WinMmMidiOutput::open (const juce::String& identifier)
{
    for (const auto& port : listPorts (Direction::output))
    {
        if (port.info.identifier != identifier)
            continue;

        HMIDIOUT handle = nullptr;

        if (port.deviceId < 0 || midiOutOpen (&handle, (UINT) port.deviceId, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return nullptr;

        // Device numbers shift as devices come and go. The device opened must
        // still be the port chosen: another one is not ours to write to.
        if (nameOf (Direction::output, (UINT) port.deviceId) != port.info.name)
        {
            midiOutClose (handle);
            return nullptr;
        }

        return std::unique_ptr<WinMmMidiOutput> (new WinMmMidiOutput (handle, port.info));
    }

    return nullptr;
}

WinMmMidiOutput::WinMmMidiOutput (void* h, juce::MidiDeviceInfo i)
    : handle (h)
    , info (std::move (i))
{
}

WinMmMidiOutput::~WinMmMidiOutput()
{
    midiOutReset ((HMIDIOUT) handle);
    midiOutClose ((HMIDIOUT) handle);
}

bool WinMmMidiOutput::sendBytes (const void* data, size_t numBytes)
{
    const auto* bytes = static_cast<const unsigned char*> (data);

    if (driverHoldsABuffer || numBytes == 0 || numBytes > 0xffff)
        return false;

    if (numBytes <= 3 && bytes[0] != 0xf0)
    {
        DWORD message = 0;
        std::memcpy (&message, bytes, numBytes);
        return midiOutShortMsg ((HMIDIOUT) handle, message) == MMSYSERR_NOERROR;
    }

    auto buffer = std::make_unique<Buffer>();
    buffer->bytes.assign (static_cast<const char*> (data), static_cast<const char*> (data) + numBytes);
    auto& header = buffer->header;
    header.lpData = buffer->bytes.data();
    header.dwBufferLength = header.dwBytesRecorded = (DWORD) numBytes;

    if (midiOutPrepareHeader ((HMIDIOUT) handle, &header, sizeof (header)) != MMSYSERR_NOERROR)
        return false;

    if (midiOutLongMsg ((HMIDIOUT) handle, &header, sizeof (header)) != MMSYSERR_NOERROR)
    {
        midiOutUnprepareHeader ((HMIDIOUT) handle, &header, sizeof (header));
        return false;
    }

    // The in-box driver holds the buffer for about the time the bytes take on
    // the wire. The wait is counted as time elapsed, which stays right when
    // timeGetTime's 32-bit count wraps (every 49.7 days of uptime).
    const DWORD sentAtMs = timeGetTime();

    while ((header.dwFlags & MHDR_DONE) == 0)
    {
        if (timeGetTime() - sentAtMs >= (DWORD) sendTimeoutMs)
        {
            // Given up on: the buffer stays the driver's, and so does the port.
            driverHoldsABuffer = true;
            buffer.release();
            return false;
        }

        Sleep (1);
    }

    midiOutUnprepareHeader ((HMIDIOUT) handle, &header, sizeof (header));
    return true;
}
