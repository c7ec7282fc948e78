# Sanitizer builds, chosen with -DQB4II_SANITIZER=asan (AddressSanitizer with
# UndefinedBehaviorSanitizer) or -DQB4II_SANITIZER=tsan (ThreadSanitizer). They
# apply to every target below this directory, the JUCE modules included, so that
# the framework's threads are instrumented too.
#
# Built with clang, the ASan build also carries libFuzzer's coverage, and holds
# the fuzz targets (tests/fuzz) beside the suite: one build of the framework for
# both. The coverage hooks cost the suite little, and without libFuzzer linked
# they are the sanitizer runtime's empty defaults.

if (QB4II_SANITIZER STREQUAL "asan")
    set (QB4II_SANITIZE address,undefined)
    if (CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        set (QB4II_FUZZ_TARGETS_BUILT ON)
        add_compile_options (-fsanitize=fuzzer-no-link)
    endif()
    add_compile_options (-fsanitize=${QB4II_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options (-fsanitize=${QB4II_SANITIZE})
elseif (QB4II_SANITIZER STREQUAL "tsan")
    add_compile_options (-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options (-fsanitize=thread)
elseif (NOT QB4II_SANITIZER STREQUAL "")
    message (FATAL_ERROR "QB4II_SANITIZER must be empty, 'asan' or 'tsan', not '${QB4II_SANITIZER}'")
endif()
