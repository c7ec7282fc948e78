#pragma once

#include <juce_core/juce_core.h>

/**
    Text that comes from outside the program, shown safely: other programs'
    names as the MIDI system reports them, port names, a file's path, a system
    service's error. Whoever runs another program chooses its name, control
    characters and terminal escape sequences included.

    Pure: any thread.
*/
struct OutsideText final
{
    /** The text with every control character (C0, DEL, C1), every line or
        paragraph separator and every bidirectional override made visible as an
        escape ("\x1b", "\u202e"), so that printing it cannot move a terminal's
        cursor, colour or clear its screen, or reorder what a reader sees.
        Everything else stays as it is. */
    static juce::String visible (const juce::String& text);

    /** The text as a JSON string, quotes included, that a strict reader accepts:
        only JSON's own escapes (\" \\ and \u00XX for every control character,
        DEL and C1 included); U+2028 and U+2029 escaped as well; anything that is
        not a Unicode scalar value becomes U+FFFD. */
    static juce::String jsonString (const juce::String& text);

    /** The value as one line of JSON: null, true and false, integers, finite
        numbers (others as null), strings through jsonString(), arrays and
        objects ("key": value, separated by ", "). Methods and binary data are
        written as null. */
    static juce::String json (const juce::var& value);
};
