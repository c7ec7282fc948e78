#include "app/DemoApplication.h"

START_JUCE_APPLICATION (DemoApplication)
