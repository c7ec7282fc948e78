#pragma once

/** The pacing of a firmware transfer. The defaults are the controller's: it needs
    259 ms to write each 256-byte block to flash and 5000 ms to erase. Tests pass
    shorter times; nothing else changes with them. */
struct FirmwareTiming
{
    unsigned blockSize = 256;
    int blockIntervalMs = 259;
    int eraseWaitMs = 5000;
};
