/*
    The device side of the MIDI checks run in the test VM (tests/vm/run.sh): plays
    the controller on a raw MIDI device, the emulated USB device's gadget side or
    snd-virmidi's raw side, named as alsa-lib names them ("hw:QB4Gadget,0").

    qb4ii_vm_device capture DEVICE OUTFILE EXPECTED_BYTES
        Writes every byte the device receives to OUTFILE until EXPECTED_BYTES have
        arrived or SIGTERM comes.
    qb4ii_vm_device respond DEVICE REQUEST_HEX REPLY_HEX TIMEOUT_S
        Waits for the bytes REQUEST_HEX to arrive, then writes REPLY_HEX.

    Both say "ready" once the device is open: bytes sent before are lost. Every
    line of output starts with the command's name; the exit status is 0 on
    success.
*/

#include <alsa/asoundlib.h>

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static volatile sig_atomic_t stopRequested = 0;

static void requestStop (int signalNumber)
{
    (void) signalNumber;
    stopRequested = 1;
}

static double secondsNow (void)
{
    struct timespec now;
    clock_gettime (CLOCK_MONOTONIC, &now);
    return (double) now.tv_sec + (double) now.tv_nsec / 1e9;
}

/* Room for a whole image message, so that a slow reader loses nothing. */
static void enlargeInputBuffer (snd_rawmidi_t* in)
{
    snd_rawmidi_params_t* params = NULL;
    snd_rawmidi_params_alloca (&params);

    if (snd_rawmidi_params_current (in, params) == 0 && snd_rawmidi_params_set_buffer_size (in, params, 256 * 1024) == 0)
        snd_rawmidi_params (in, params);
}

/* Reads what is there, waiting up to 100 ms. Returns the count, 0 for none, or a
   negative error. */
static ssize_t readSome (snd_rawmidi_t* in, unsigned char* buffer, size_t size)
{
    struct pollfd fds[4];
    const int count = snd_rawmidi_poll_descriptors (in, fds, 4);

    const int ready = poll (fds, (nfds_t) count, 100);

    if (ready < 0)
        return errno == EINTR ? 0 : -errno;

    /* Nothing yet. With the output set to blocking, the shared descriptor blocks a
       read too, so only read what poll reported. */
    if (ready == 0)
        return 0;

    const ssize_t got = snd_rawmidi_read (in, buffer, size);
    return got == -EAGAIN ? 0 : got;
}

static int capture (const char* device, const char* path, long expected)
{
    snd_rawmidi_t* in = NULL;
    int err = snd_rawmidi_open (&in, NULL, device, SND_RAWMIDI_NONBLOCK);

    if (err < 0)
    {
        printf ("capture: cannot open %s: %s\n", device, snd_strerror (err));
        return 1;
    }

    FILE* out = fopen (path, "wb");

    if (out == NULL)
    {
        printf ("capture: cannot write %s\n", path);
        return 1;
    }

    enlargeInputBuffer (in);
    printf ("capture: ready on %s\n", device);
    fflush (stdout);

    unsigned char buffer[4096];
    long total = 0;
    double first = 0, last = 0;

    while (! stopRequested && total < expected)
    {
        const ssize_t got = readSome (in, buffer, sizeof buffer);

        if (got < 0)
        {
            printf ("capture: read failed: %s\n", snd_strerror ((int) got));
            err = (int) got;
            break;
        }

        if (got == 0)
            continue;

        if (total == 0)
            first = secondsNow();

        last = secondsNow();
        fwrite (buffer, 1, (size_t) got, out);
        total += got;
    }

    fclose (out);
    snd_rawmidi_close (in);

    printf ("capture: %ld bytes from %s, %.2f s from first to last\n", total, device, last - first);
    return err < 0 ? 1 : 0;
}

/* Reads two hex digits per byte; returns the count, or -1. */
static int parseHex (const char* text, unsigned char* bytes, int capacity)
{
    const size_t length = strlen (text);

    if (length % 2 != 0 || (int) (length / 2) > capacity)
        return -1;

    for (size_t i = 0; i < length; i += 2)
    {
        char pair[3] = { text[i], text[i + 1], 0 };
        char* end = NULL;
        bytes[i / 2] = (unsigned char) strtoul (pair, &end, 16);

        if (*end != 0)
            return -1;
    }

    return (int) (length / 2);
}

static int respond (const char* device, const char* requestHex, const char* replyHex, int timeoutSeconds)
{
    unsigned char request[64], reply[256];
    const int requestSize = parseHex (requestHex, request, (int) sizeof request);
    const int replySize = parseHex (replyHex, reply, (int) sizeof reply);

    if (requestSize <= 0 || replySize <= 0)
    {
        printf ("respond: bad hex\n");
        return 1;
    }

    snd_rawmidi_t *in = NULL, *out = NULL;
    const int err = snd_rawmidi_open (&in, &out, device, SND_RAWMIDI_NONBLOCK);

    if (err < 0)
    {
        printf ("respond: cannot open %s: %s\n", device, snd_strerror (err));
        return 1;
    }

    snd_rawmidi_nonblock (out, 0);
    printf ("respond: ready on %s\n", device);
    fflush (stdout);

    /* The last requestSize bytes received. */
    unsigned char window[64];
    int held = 0;
    const double deadline = secondsNow() + timeoutSeconds;
    int seen = 0;
    long received = 0;
    unsigned char firstBytes[16];

    while (! seen && ! stopRequested && secondsNow() < deadline)
    {
        unsigned char buffer[256];
        const ssize_t got = readSome (in, buffer, sizeof buffer);

        if (got < 0)
        {
            printf ("respond: read failed: %s\n", snd_strerror ((int) got));
            break;
        }

        for (ssize_t i = 0; i < got && ! seen; ++i)
        {
            if (received < (long) sizeof firstBytes)
                firstBytes[received] = buffer[i];
            ++received;

            if (held == requestSize)
                memmove (window, window + 1, (size_t) --held);

            window[held++] = buffer[i];
            seen = held == requestSize && memcmp (window, request, (size_t) requestSize) == 0;
        }
    }

    int result = 1;

    if (! seen)
    {
        printf ("respond: no request within %d s, %ld bytes received:", timeoutSeconds, received);
        for (long i = 0; i < received && i < (long) sizeof firstBytes; ++i)
            printf (" %02X", firstBytes[i]);
        printf ("\n");
    }
    else if (snd_rawmidi_write (out, reply, (size_t) replySize) != replySize || snd_rawmidi_drain (out) < 0)
        printf ("respond: request seen, writing the reply failed\n");
    else
    {
        printf ("respond: request seen after %ld other bytes, %d-byte reply written\n", received - requestSize, replySize);
        result = 0;
    }

    snd_rawmidi_close (in);
    snd_rawmidi_close (out);
    return result;
}

int main (int argc, char** argv)
{
    signal (SIGTERM, requestStop);
    signal (SIGINT, requestStop);
    setvbuf (stdout, NULL, _IOLBF, 0);

    if (argc == 5 && strcmp (argv[1], "capture") == 0)
        return capture (argv[2], argv[3], atol (argv[4]));

    if (argc == 6 && strcmp (argv[1], "respond") == 0)
        return respond (argv[2], argv[3], argv[4], atoi (argv[5]));

    fprintf (stderr, "usage: qb4ii_vm_device capture DEVICE OUTFILE EXPECTED_BYTES"
                     " | respond DEVICE REQUEST_HEX REPLY_HEX TIMEOUT_S\n");
    return 2;
}
