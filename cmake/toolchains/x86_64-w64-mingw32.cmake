# Cross-building for 64-bit Windows on Debian with MinGW-w64 (posix threads, so
# that std::thread and std::mutex work): scripts/build-windows.sh uses it.
set (CMAKE_SYSTEM_NAME Windows)
set (CMAKE_SYSTEM_PROCESSOR x86_64)

set (CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set (CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set (CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers for the target come from the MinGW tree and the
# project's own cross-built ones (CMAKE_PREFIX_PATH); programs run on the build
# machine. JUCE's CMake package is Debian's, for the build machine, and its
# juceaide runs there: packages are looked up in both trees.
# QB4II_WINDOWS_PREFIX: where the cross-built libraries are installed.
set (CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QB4II_WINDOWS_PREFIX})
set (CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set (CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Debian's JUCE package, which the cross build's search paths do not cover.
if (NOT JUCE_DIR)
    file (GLOB QB4II_HOST_JUCE_DIRS /usr/lib/*/cmake/JUCE-*)
    if (QB4II_HOST_JUCE_DIRS)
        list (GET QB4II_HOST_JUCE_DIRS 0 QB4II_HOST_JUCE_DIR)
        set (JUCE_DIR "${QB4II_HOST_JUCE_DIR}" CACHE PATH "Debian's JUCE CMake package")
    endif()
endif()
