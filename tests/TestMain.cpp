#include <gtest/gtest.h>

#include "engine/PortUpdateLock.h"

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_LINUX
#include <dlfcn.h>
#endif

namespace
{
    // Alert windows need JUCE's forgiving X error handler, which it only installs
    // when it believes it runs as an application. A factory that is never called
    // is enough for that.
    juce::JUCEApplicationBase* neverCreated() { return nullptr; }
} // namespace

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    juce::JUCEApplicationBase::createInstance = &neverCreated;

#if JUCE_LINUX
    // JUCE loads Xlib itself and unloads it at shutdown, which leaves Xlib's own
    // caches (locale data for window titles and the like) unreachable:
    // LeakSanitizer would blame them on every test that opened a window. A
    // reference of our own keeps the library mapped until the process ends.
    dlopen ("libX11.so.6", RTLD_LAZY | RTLD_NODELETE);
#endif

    const juce::ScopedJuceInitialiser_GUI juce;

    // Every test process of a parallel run updates the same port names: each
    // keeps its claims on them to itself.
    const juce::TemporaryFile lockFolder ("qb4ii-test-locks");
    lockFolder.getFile().createDirectory();
    PortUpdateLock::setLockFolder (lockFolder.getFile());

    const int result = RUN_ALL_TESTS();
    lockFolder.getFile().deleteRecursively();
    return result;
}
