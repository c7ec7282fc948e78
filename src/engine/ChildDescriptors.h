#pragma once

/**
    Keeps this process's descriptors from the programs it starts. The framework
    starts some on Linux (dconf and gsettings, for the display's scale), and
    opens its message queue's socket pair without close-on-exec: without this,
    each of them would inherit the socket into which the message loop reads.

    Linux only; elsewhere it does nothing.
*/
class ChildDescriptors final
{
public:
    /** Marks every open descriptor above stderr close-on-exec and returns how many
        were not. Call it once the framework is initialised, on the message thread,
        before anything starts a program. */
    static int closeAllOnExec();
};
