#include "midi/WinMmMidiOutput.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <vector>

/** A long message's header and bytes, on the heap: a driver that never hands
    them back may still write into them. */
struct WinMmMidiOutput::Buffer
{
    MIDIHDR header {};
    std::vector<char> bytes;
};

std::unique_ptr<WinMmMidiOutput> WinMmMidiOutput::open (const juce::String& identifier)
{
    // The framework lists the ports in WinMM's own order: a port's position is
    // its device number.
    const auto devices = juce::MidiOutput::getAvailableDevices();

    for (int index = 0; index < devices.size(); ++index)
    {
        if (devices[index].identifier != identifier)
            continue;

        HMIDIOUT handle = nullptr;

        if (midiOutOpen (&handle, (UINT) index, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return nullptr;

        return std::unique_ptr<WinMmMidiOutput> (new WinMmMidiOutput (handle, devices[index]));
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
    // the wire.
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) sendTimeoutMs;

    while ((header.dwFlags & MHDR_DONE) == 0)
    {
        if (juce::Time::getMillisecondCounter() > deadline)
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
