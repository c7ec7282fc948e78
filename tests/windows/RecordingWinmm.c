/*
    A winmm.dll that stands in for Windows' own in a test: it presents one MIDI
    output and one input named as Windows lists the controller (the output as
    device 1, after a device 0 whose capabilities cannot be read, which the
    framework leaves out of its list), records every
    midiOutLongMsg and midiOutShortMsg call with its bytes and a time stamp, and
    plays a controller behind them. Loaded beside the program with
    WINEDLLOVERRIDES=winmm=n, so that the bytes are checked where JUCE hands them
    to the operating system, not after Wine's MIDI driver (which alters slices).

    Set in the process's environment before the first MIDI call:
      QB4II_WINMM_RECORD        the file the calls are written to, one a line:
                                "L <microseconds> <hex bytes>" or "S ...", and
                                "REFUSED L ..." for a call on a vanished device
      QB4II_WINMM_REPLY         the identity reply (hex) before an update
      QB4II_WINMM_REPLY_AFTER   the identity reply after the controller's reset
      QB4II_WINMM_UNPLUG_AFTER  the devices vanish for good once this many slices
                                of an image arrived (unset: never)
      QB4II_WINMM_HANG_AFTER    from the slice after this many, the driver takes
                                long messages and never hands their buffers back

    The controller answers an identity request on the input; once an image ends
    (a slice ending in F7 after one starting with F0) it resets: its devices
    vanish for 300 ms and come back answering with the reply after.

    Also provides the three timer functions the program imports from winmm.
*/

/* Defines the functions that mmsystem.h would otherwise declare as imported. */
#define _WINMM_
#include <windows.h>
#include <mmsystem.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define DEVICE_NAME L"Korvan QB4 II"
#define OUTPUT_ID 1
#define MAX_BUFFERS 64
#define MAX_REPLY 64

static void wrapClockSoon (void);

static CRITICAL_SECTION lock;
static INIT_ONCE initOnce = INIT_ONCE_STATIC_INIT;
static LARGE_INTEGER frequency, start;
static FILE* record;

static int present = 1;
static int generation = 1;
static int inImage, imageSlices, unplugAfter = -1, hangAfter = -1;
static DWORD backAtMs;

static unsigned char reply[MAX_REPLY], replyAfter[MAX_REPLY];
static size_t replySize, replyAfterSize;
static int replyPending;

static DWORD_PTR inCallback, inInstance;
static HMIDIIN inHandle;
static int inStarted;
static MIDIHDR* buffers[MAX_BUFFERS];
static int numBuffers;

static double microseconds (void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter (&now);
    return (double) (now.QuadPart - start.QuadPart) * 1e6 / (double) frequency.QuadPart;
}

static size_t readHex (const char* name, unsigned char* out, size_t capacity)
{
    char text[2 * MAX_REPLY + 1];
    size_t n = 0;
    DWORD length = GetEnvironmentVariableA (name, text, sizeof (text));

    for (DWORD i = 0; i + 1 < length && length < sizeof (text) && n < capacity; i += 2)
    {
        char pair[3] = { text[i], text[i + 1], 0 };
        out[n++] = (unsigned char) strtoul (pair, NULL, 16);
    }

    return n;
}

static DWORD WINAPI deviceThread (LPVOID unused);

static BOOL CALLBACK initialise (PINIT_ONCE once, PVOID parameter, PVOID* context)
{
    char path[MAX_PATH], number[32];
    (void) once, (void) parameter, (void) context;

    InitializeCriticalSection (&lock);
    QueryPerformanceFrequency (&frequency);
    QueryPerformanceCounter (&start);

    if (GetEnvironmentVariableA ("QB4II_WINMM_RECORD", path, sizeof (path)) > 0)
        record = fopen (path, "w");

    replySize = readHex ("QB4II_WINMM_REPLY", reply, sizeof (reply));
    replyAfterSize = readHex ("QB4II_WINMM_REPLY_AFTER", replyAfter, sizeof (replyAfter));

    if (GetEnvironmentVariableA ("QB4II_WINMM_UNPLUG_AFTER", number, sizeof (number)) > 0)
        unplugAfter = atoi (number);
    if (GetEnvironmentVariableA ("QB4II_WINMM_HANG_AFTER", number, sizeof (number)) > 0)
        hangAfter = atoi (number);

    CloseHandle (CreateThread (NULL, 0, deviceThread, NULL, 0, NULL));
    return TRUE;
}

static void ensureInitialised (void)
{
    InitOnceExecuteOnce (&initOnce, initialise, NULL, NULL);
}

static void writeRecord (const char* kind, const unsigned char* bytes, size_t size)
{
    if (record == NULL)
        return;

    fprintf (record, "%s %.0f ", kind, microseconds());

    for (size_t i = 0; i < size; ++i)
        fprintf (record, "%02X", bytes[i]);

    fputc ('\n', record);
    fflush (record);
}

/* The controller's side of a long message: called with the lock held. */
static void controllerReceives (const unsigned char* bytes, size_t size)
{
    static const unsigned char identityRequest[] = { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };

    if (size == sizeof (identityRequest) && memcmp (bytes, identityRequest, size) == 0)
    {
        replyPending = 1;
        return;
    }

    if (! inImage && size > 0 && bytes[0] == 0xF0 && bytes[size - 1] != 0xF7)
        inImage = 1, imageSlices = 0;

    if (! inImage)
        return;

    ++imageSlices;

    if (unplugAfter >= 0 && imageSlices >= unplugAfter)
    {
        present = 0, inImage = 0, backAtMs = 0;
        return;
    }

    if (bytes[size - 1] == 0xF7)
    {
        /* The image is whole: the controller resets. */
        inImage = 0, present = 0;
        backAtMs = timeGetTime() + 300;
        memcpy (reply, replyAfter, replyAfterSize);
        replySize = replyAfterSize;
    }
}

/* Answers on the input, and brings the devices back after a reset. */
static DWORD WINAPI deviceThread (LPVOID unused)
{
    (void) unused;

    for (;;)
    {
        Sleep (2);
        EnterCriticalSection (&lock);

        if (! present && backAtMs != 0 && (LONG) (timeGetTime() - backAtMs) >= 0)
            present = 1, backAtMs = 0, ++generation;

        if (present && replyPending && inStarted && numBuffers > 0 && replySize > 0)
        {
            MIDIHDR* header = buffers[0];
            memmove (buffers, buffers + 1, (size_t) --numBuffers * sizeof (buffers[0]));
            replyPending = 0;

            if (header->dwBufferLength >= replySize)
            {
                memcpy (header->lpData, reply, replySize);
                header->dwBytesRecorded = (DWORD) replySize;
            }

            header->dwFlags |= MHDR_DONE;
            ((LPDRVCALLBACK) inCallback) ((HDRVR) inHandle, MIM_LONGDATA, inInstance, (DWORD_PTR) header, timeGetTime());
        }

        LeaveCriticalSection (&lock);
    }

    return 0;
}

/* --- Outputs --------------------------------------------------------------------- */

UINT WINAPI midiOutGetNumDevs (void)
{
    ensureInitialised();
    return present ? OUTPUT_ID + 1 : 0;
}

MMRESULT WINAPI midiOutGetDevCapsW (UINT_PTR id, LPMIDIOUTCAPSW caps, UINT size)
{
    ensureInitialised();

    if (! present || id != OUTPUT_ID || caps == NULL || size < sizeof (MIDIOUTCAPSW))
        return MMSYSERR_BADDEVICEID;

    memset (caps, 0, sizeof (MIDIOUTCAPSW));
    wcscpy (caps->szPname, DEVICE_NAME);
    caps->wTechnology = MOD_MIDIPORT;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutMessage (HMIDIOUT h, UINT message, DWORD_PTR a, DWORD_PTR b)
{
    (void) h, (void) message, (void) a, (void) b;
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT WINAPI midiOutOpen (LPHMIDIOUT handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    (void) callback, (void) instance, (void) flags;
    ensureInitialised();

    if (! present || id != OUTPUT_ID)
        return MMSYSERR_BADDEVICEID;

    *handle = (HMIDIOUT) (INT_PTR) (0x1000 + generation);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutClose (HMIDIOUT h)
{
    (void) h;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader (HMIDIOUT h, LPMIDIHDR header, UINT size)
{
    (void) h, (void) size;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutUnprepareHeader (HMIDIOUT h, LPMIDIHDR header, UINT size)
{
    (void) h, (void) size;
    header->dwFlags &= ~(DWORD) MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

static int isCurrent (HMIDIOUT h)
{
    return present && (INT_PTR) h == 0x1000 + generation;
}

MMRESULT WINAPI midiOutLongMsg (HMIDIOUT h, LPMIDIHDR header, UINT size)
{
    (void) size;
    ensureInitialised();
    EnterCriticalSection (&lock);

    const unsigned char* bytes = (const unsigned char*) header->lpData;
    MMRESULT result = MMSYSERR_NODRIVER;

    if (isCurrent (h))
    {
        writeRecord ("L", bytes, header->dwBufferLength);
        controllerReceives (bytes, header->dwBufferLength);
        result = MMSYSERR_NOERROR;
    }
    else
    {
        writeRecord ("REFUSED L", bytes, header->dwBufferLength);
    }

    if (hangAfter < 0 || imageSlices <= hangAfter)
        header->dwFlags |= MHDR_DONE;
    else if (imageSlices == hangAfter + 1)
        wrapClockSoon();
    LeaveCriticalSection (&lock);
    return result;
}

MMRESULT WINAPI midiOutReset (HMIDIOUT h)
{
    (void) h;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutShortMsg (HMIDIOUT h, DWORD message)
{
    ensureInitialised();
    EnterCriticalSection (&lock);
    const int current = isCurrent (h);
    writeRecord (current ? "S" : "REFUSED S", (const unsigned char*) &message, sizeof (message));
    LeaveCriticalSection (&lock);
    return current ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

/* --- Inputs ---------------------------------------------------------------------- */

UINT WINAPI midiInGetNumDevs (void)
{
    ensureInitialised();
    return present ? 1 : 0;
}

MMRESULT WINAPI midiInGetDevCapsW (UINT_PTR id, LPMIDIINCAPSW caps, UINT size)
{
    ensureInitialised();

    if (! present || id != 0 || caps == NULL || size < sizeof (MIDIINCAPSW))
        return MMSYSERR_BADDEVICEID;

    memset (caps, 0, sizeof (MIDIINCAPSW));
    wcscpy (caps->szPname, DEVICE_NAME);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInMessage (HMIDIIN h, UINT message, DWORD_PTR a, DWORD_PTR b)
{
    (void) h, (void) message, (void) a, (void) b;
    return MMSYSERR_NOTSUPPORTED;
}

MMRESULT WINAPI midiInOpen (LPHMIDIIN handle, UINT id, DWORD_PTR callback, DWORD_PTR instance, DWORD flags)
{
    (void) flags;
    ensureInitialised();

    if (! present || id != 0)
        return MMSYSERR_BADDEVICEID;

    EnterCriticalSection (&lock);
    inHandle = *handle = (HMIDIIN) (INT_PTR) (0x2000 + generation);
    inCallback = callback, inInstance = instance, inStarted = 0, numBuffers = 0;
    LeaveCriticalSection (&lock);
    return MMSYSERR_NOERROR;
}

/* Hands every queued buffer back empty, as Windows does on a reset. */
static void returnBuffers (void)
{
    while (numBuffers > 0)
    {
        MIDIHDR* header = buffers[--numBuffers];
        header->dwBytesRecorded = 0;
        header->dwFlags |= MHDR_DONE;

        if (inCallback != 0)
            ((LPDRVCALLBACK) inCallback) ((HDRVR) inHandle, MIM_LONGDATA, inInstance, (DWORD_PTR) header, 0);
    }
}

MMRESULT WINAPI midiInClose (HMIDIIN h)
{
    (void) h;
    EnterCriticalSection (&lock);
    returnBuffers();
    inCallback = 0, inStarted = 0;
    LeaveCriticalSection (&lock);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader (HMIDIIN h, LPMIDIHDR header, UINT size)
{
    (void) h, (void) size;
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInUnprepareHeader (HMIDIIN h, LPMIDIHDR header, UINT size)
{
    (void) h, (void) size;
    header->dwFlags &= ~(DWORD) MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInAddBuffer (HMIDIIN h, LPMIDIHDR header, UINT size)
{
    (void) h, (void) size;
    EnterCriticalSection (&lock);
    MMRESULT result = MIDIERR_NOTREADY;

    if (numBuffers < MAX_BUFFERS)
    {
        header->dwFlags &= ~(DWORD) MHDR_DONE;
        buffers[numBuffers++] = header;
        result = MMSYSERR_NOERROR;
    }

    LeaveCriticalSection (&lock);
    return result;
}

/* Starts or stops the input; a reset also hands the queued buffers back. */
static MMRESULT setInput (int started, int handBuffersBack)
{
    EnterCriticalSection (&lock);

    if (handBuffersBack)
        returnBuffers();

    inStarted = started;
    LeaveCriticalSection (&lock);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInStart (HMIDIIN h)
{
    (void) h;
    return setInput (1, 0);
}

MMRESULT WINAPI midiInStop (HMIDIIN h)
{
    (void) h;
    return setInput (0, 0);
}

MMRESULT WINAPI midiInReset (HMIDIIN h)
{
    (void) h;
    return setInput (0, 1);
}

/* --- Timers ---------------------------------------------------------------------- */

static volatile LONG clockOffset; /* added to the count: wrapClockSoon() */

static DWORD millisecondsSinceStart (void)
{
    static LARGE_INTEGER f, s;

    if (f.QuadPart == 0)
    {
        QueryPerformanceFrequency (&f);
        QueryPerformanceCounter (&s);
    }

    LARGE_INTEGER now;
    QueryPerformanceCounter (&now);
    return (DWORD) ((now.QuadPart - s.QuadPart) * 1000 / f.QuadPart);
}

/* From now on timeGetTime reads as if the machine had been up for 49.7 days:
   it wraps in half a second, as the 32-bit count does then. */
static void wrapClockSoon (void)
{
    clockOffset = (LONG) (0xffffffffu - 499u - millisecondsSinceStart());
}

DWORD WINAPI timeGetTime (void)
{
    return millisecondsSinceStart() + (DWORD) clockOffset;
}

MMRESULT WINAPI timeBeginPeriod (UINT period)
{
    (void) period;
    return TIMERR_NOERROR;
}

MMRESULT WINAPI timeEndPeriod (UINT period)
{
    (void) period;
    return TIMERR_NOERROR;
}
