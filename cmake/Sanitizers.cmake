# Sanitizer builds, chosen with -DQB4II_SANITIZER=asan (AddressSanitizer with
# UndefinedBehaviorSanitizer), -DQB4II_SANITIZER=tsan (ThreadSanitizer) or
# -DQB4II_SANITIZER=fuzz (ASan and UBSan with libFuzzer's coverage; clang only).
# They apply to every target below this directory, the JUCE modules included,
# so that the framework's threads are instrumented too.

if (QB4II_SANITIZER STREQUAL "asan")
    add_compile_options (-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options (-fsanitize=address,undefined)
elseif (QB4II_SANITIZER STREQUAL "tsan")
    add_compile_options (-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options (-fsanitize=thread)
elseif (QB4II_SANITIZER STREQUAL "fuzz")
    if (NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message (FATAL_ERROR "the fuzz build needs clang: configure with CC=clang CXX=clang++")
    endif()
    add_compile_options (-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options (-fsanitize=address,undefined)
elseif (NOT QB4II_SANITIZER STREQUAL "")
    message (FATAL_ERROR "QB4II_SANITIZER must be empty, 'asan', 'tsan' or 'fuzz', not '${QB4II_SANITIZER}'")
endif()
