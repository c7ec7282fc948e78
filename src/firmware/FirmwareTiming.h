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

    /** How long, from "Completed", the controller has to come back and report
        the offered version before the update is called not confirmed. A sound
        controller programs its last block within the block interval and
        re-enumerates within a few seconds (about one on a slow emulated USB bus);
        a minute leaves room for a slow hub and a busy machine. */
    int confirmWaitMs = 60000;

    /** The same for the emergency form, whose controller resets only once the
        user presses its blinking CUE button after reading the completion notice. */
    int emergencyConfirmWaitMs = 120000;

    /** After "Completed", how long the controller's port may stay listed without
        having gone away before it is asked for its version anyway: a port that
        vanished and came back while the update was erasing, or a controller that
        resets without leaving the bus. Long enough that no request lands while the
        controller programs its last block. */
    int askAfterCompletionMs = 3000;

    /** How long a listed controller may leave identity requests unanswered, while
        nothing is updating, before the window offers the emergency update. A
        running controller answers the first request within a few passes. */
    int unansweredHintMs = 3000;
};
