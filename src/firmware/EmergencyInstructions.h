#pragma once

#include <juce_core/juce_core.h>

/** What the user must do by hand before an emergency update, four numbered lines.
    Asked as the question before such an update starts. */
extern const juce::String emergencyInstructions;

/** What the user must do once an emergency update has been written: the
    controller resets only then. */
extern const juce::String emergencyResetInstruction;
