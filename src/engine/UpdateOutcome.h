#pragma once

#include "engine/ApplicationEngine.h"

/**
    What came of an update, or of a start the engine refused, described once for
    every program that tells it: its name for scripts, the exit status the
    terminal updater ends with, the facts (versions, program names), and the
    words, both as the window's notice and as the terminal's line. The window
    and the terminal each render the form they show; neither words an outcome
    of its own.

    Other programs' names are made visible (OutsideText) in the words; the facts
    keep them as the system reported them.

    Pure: any thread.
*/
struct UpdateOutcome final
{
    /** How the terminal updater ends for an outcome. */
    enum ExitStatus
    {
        done = 0,         ///< for update: written and confirmed
        failed = 1,       ///< the controller went offline, the image is damaged, or it was stopped
        usageError = 2,   ///< the command line is wrong
        noController = 3, ///< no controller found
        busy = 4,         ///< another updater, or another program writing to it, has the controller
        notConfirmed = 5, ///< written, but the controller did not come back running it
        noMidi = 6        ///< the system's MIDI service cannot be opened
    };

    juce::String result;       ///< its name for scripts: "in use", "confirmed"
    int exitStatus = done;     ///< an ExitStatus
    juce::NamedValueSet facts; ///< for scripts: "programs", "firmware", "offered", "company"
    juce::String title;        ///< the window's notice title; empty: the window's status line shows the notice's words
    juce::String notice;       ///< the window's words
    juce::String line;         ///< the terminal's words

    /** Why startUpdate() refused, with what the engine tells of it (the programs,
        the port, the claim's and the sleep lock's failures). A start refused for
        want of a controller is ofNoController()'s. */
    static UpdateOutcome ofRefusal (ApplicationEngine::StartRefusal why, const ApplicationEngine& engine);

    /** No controller found: on the port asked for (empty: any), or none at all
        because the MIDI system cannot be opened (its reason; empty: it can). */
    static UpdateOutcome ofNoController (const juce::String& portAsked, const juce::String& midiUnavailable);

    /** The controller's firmware has not answered: the normal update needs the
        user's word. The window asks; the terminal refuses unless forced. */
    static UpdateOutcome ofNotAnswering (const juce::String& port);

    /** The controller went offline during a transfer, having been sent something or not. */
    static UpdateOutcome ofOffline (bool anythingSent);

    /** A completed update's result, for the controller on this port. */
    static UpdateOutcome ofResult (const ApplicationEngine::UpdateResult& result, const juce::String& port);

    /** "1.05" */
    static juce::String versionText (double version);

    /** "Mixxx", "Mixxx and Ardour", "Mixxx, Ardour and Qsynth": other programs'
        names, made visible. */
    static juce::String listOfNames (const juce::StringArray& names);

    /** The terminal's way to the emergency update. */
    static const juce::String emergencyAdvice;

    /** The window's way to the emergency update. */
    static const juce::String emergencyWayOut;
};
