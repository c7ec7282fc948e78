/*
    Linked into each Windows program: where Windows looks for the DLLs the
    program loads. A copy of the program started from a downloads folder must
    not load a winmm.dll or version.dll planted beside it (neither is a known
    DLL, which Windows would take from System32 whatever the folder holds).

    - The statically imported ones: the load configuration's DependentLoadFlags
      (Windows 10 1607 and later), System32 only. GNU ld does not point the
      image's load configuration directory at this structure by itself:
      cmake/set-pe-load-config.py does it in the shipped copies.
    - The ones loaded later by name (the framework loads a few): the process's
      default DLL directories, System32 only, set before main.
*/
#include <windows.h>

/* The structure's layout up to CSDVersion, then DependentLoadFlags, which
   older headers call Reserved1. */
const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = {
    .Size = sizeof (IMAGE_LOAD_CONFIG_DIRECTORY64),
    .Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32,
};

__attribute__ ((constructor)) static void searchSystem32Only (void)
{
    SetDefaultDllDirectories (LOAD_LIBRARY_SEARCH_SYSTEM32);
}
