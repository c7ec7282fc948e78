#pragma once

/** The pacing of a firmware transfer. The defaults are the controller's: it needs
    259 ms to write each 256-byte block to flash and 5000 ms to erase. Tests pass
    shorter times; nothing else changes with them. */
struct FirmwareTiming
{
    unsigned blockSize = 256;
    int blockIntervalMs = 259;
    int eraseWaitMs = 5000;

    /** How long the stream waits for the controller's port before its first block:
        from the end of the erase wait, or from the start of an emergency update.
        A controller re-enumerates after erasing, and one started in its bootloader
        may be seen by the system a little after the user confirmed; either takes
        a few seconds on a slow machine. Thirty seconds is ample for that, and still
        short enough that a user waiting at 0 % learns of the failure before giving
        up on the program. */
    int reconnectTimeoutMs = 30000;
};
