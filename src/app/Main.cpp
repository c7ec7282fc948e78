#include "app/QB4IIFirmwareUpdaterApplication.h"

START_JUCE_APPLICATION (QB4IIFirmwareUpdaterApplication)
