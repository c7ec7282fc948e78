# Sanitizer builds, chosen with -DQB4II_SANITIZER=asan (AddressSanitizer with
# UndefinedBehaviorSanitizer) or -DQB4II_SANITIZER=tsan (ThreadSanitizer).
# They apply to every target below this directory, the JUCE modules included,
# so that the framework's threads are instrumented too.

if (QB4II_SANITIZER STREQUAL "asan")
    add_compile_options (-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options (-fsanitize=address,undefined)
elseif (QB4II_SANITIZER STREQUAL "tsan")
    add_compile_options (-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options (-fsanitize=thread)
elseif (NOT QB4II_SANITIZER STREQUAL "")
    message (FATAL_ERROR "QB4II_SANITIZER must be empty, 'asan' or 'tsan', not '${QB4II_SANITIZER}'")
endif()
