#pragma once

#include <juce_core/juce_core.h>

#include <ostream>

/**
    What qb4ii-update tells its user and its scripts, in one of three forms: text
    for a person, one JSON object a line per event (stable, documented in the
    manual page), or nothing but the errors.

    Events go to standard output. Progress goes to standard error, as one line
    redrawn in place on a terminal or a line every 5 % elsewhere, and only in the
    text form: in JSON the progress events carry it.

    Names from outside the program (ports, other programs) are escaped: made
    visible in text, written as strict JSON in JSON. A stream that fails (its
    reader has gone) is written to no more; nothing here stops the program.

    Message thread.
*/
class EventPrinter final
{
public:
    enum class Mode
    {
        text,
        json,
        quiet
    };

    EventPrinter (std::ostream& out, std::ostream& err, Mode mode, bool errIsTerminal);

    /** How a controller port presents itself: "running firmware" when it answered
        the identity request, "no firmware answer" when not (a bootloader, or silent). */
    static juce::String formOf (double version);

    /** A controller port found, with the version it answered with (0: none). */
    void detected (const juce::String& port, double version, const juce::String& offeredVersion);

    /** The update entered a phase: "erasing", "sending" or "confirming"; the text
        says so to a person. */
    void phase (const juce::String& name, const juce::String& text);

    /** Slices sent so far of all, and the time the rest takes. */
    void progress (int slicesSent, int slicesTotal, double secondsLeft);

    /** The command's end: its result ("confirmed", "offline", …), its exit status,
        what it means to a person, and any further fields of the JSON event. */
    void result (const juce::String& name, int exitStatus, const juce::String& message, const juce::NamedValueSet& fields = {});

    /** A warning the user must see whatever the form (an interruption refused):
        standard error, as text. */
    void warning (const juce::String& text);

private:
    void emit (const juce::String& event, const juce::NamedValueSet& fields);
    void endProgressLine();
    static void writeLine (std::ostream& stream, const juce::String& line);
    static void writeText (std::ostream& stream, const juce::String& line);

    std::ostream& out;
    std::ostream& err;
    const Mode mode;
    const bool errIsTerminal;
    bool progressLineOpen = false;
    int lastSlices = -1;
    int lastStep = -1; // of 5 %, off a terminal

    JUCE_DECLARE_NON_COPYABLE (EventPrinter)
};
