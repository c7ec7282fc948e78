#include "firmware/EmergencyInstructions.h"

const juce::String emergencyInstructions ("To perform an emergency update:\n"
                                          "1. Power QB4II while holding LOAD A + LOAD B + FWD\n"
                                          "2. Press the blinking CUE button on the right deck\n"
                                          "3. Press OK here once FX1 is lit on the left deck");

const juce::String emergencyResetInstruction ("Press the blinking CUE button on the right deck to reset your QB4 II");
