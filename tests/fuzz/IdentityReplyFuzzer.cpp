// Identity replies as they come from outside: any bytes, read the way detection
// reads them. A version is read only from a 37-byte reply with the right
// prefix, and is a plain number: its integer part is one byte.

#include "firmware/DeviceMessages.h"
#include "FuzzSupport.h"

#include <cmath>

// The corpus starts from the reply the emulated controller gives, written where
// the corpus is still empty: the bytes have one home, the controller's model.
extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv)
{
    for (int i = 1; i < *argc; ++i)
    {
        const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile ((*argv)[i]));

        if ((*argv)[i][0] != '-' && folder.isDirectory() && folder.getNumberOfChildFiles (juce::File::findFiles) == 0)
            folder.getChildFile ("reply-1.05").replaceWithData (ControllerEmulator::buildIdentityReply ({ { 1, 0, 5 } }).getData(), (size_t) identityReplyLength);
    }

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    const auto version = parseIdentityReply (data, size);

    if (! version.has_value())
        return 0;

    if (size != (size_t) identityReplyLength || data[0] != 0xf0)
        fuzzing::broken ("a version read from a message that is not an identity reply");

    if (! std::isfinite (*version) || *version < 0.0 || *version >= 256.0)
        fuzzing::broken ("a version outside what one byte and its decimals can say");

    // The message form gives the same answer as the bytes.
    const juce::MidiMessage message (data, (int) size, 0.0);
    if (parseIdentityReply (message) != version)
        fuzzing::broken ("the two forms of the parser disagree");

    return 0;
}
