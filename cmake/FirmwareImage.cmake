# The embedded firmware image message. At build time the firmware packer checks the
# offered Intel HEX file and wraps it (F0, manufacturer id, 00 2C 70, the text, F7);
# a fault fails the build with FILE:LINE: error: REASON. The packed image goes into
# qb4ii_firmware as a generated source defining firmwareImage, firmwareImageSize,
# firmwareImageVersion and firmwareImageSha256.
#
# Included from src/firmware/CMakeLists.txt after qb4ii_firmware is defined, so the
# custom command lives in the same directory as the target that compiles its output.

set (QB4II_FIRMWARE_HEX "${QB4II_ROOT}/resources/firmware/qb4ii-firmware-1.05.hex"
    CACHE FILEPATH "The Intel HEX firmware file the updater offers")

set (QB4II_FIRMWARE_VERSION "" CACHE STRING
    "The offered firmware's version, as the window shows it; empty: taken from the HEX file's name")
set (QB4II_FIRMWARE_VERSION_OPTION)
if (QB4II_FIRMWARE_VERSION)
    set (QB4II_FIRMWARE_VERSION_OPTION --version "${QB4II_FIRMWARE_VERSION}")
endif()

set (QB4II_FIRMWARE_DIR "${CMAKE_CURRENT_BINARY_DIR}/firmware")
set (QB4II_FIRMWARE_SYX "${QB4II_FIRMWARE_DIR}/qb4ii-firmware.syx")
set (QB4II_FIRMWARE_CPP "${QB4II_FIRMWARE_DIR}/FirmwareImageData.cpp")

# A cross build cannot run the packer it builds: it runs one built for the build
# machine instead (scripts/build-windows.sh builds it).
set (QB4II_PACKER qb4ii_firmware_packer)
if (CMAKE_CROSSCOMPILING)
    set (QB4II_HOST_FIRMWARE_PACKER "" CACHE FILEPATH "The firmware packer built for the build machine")
    if (NOT EXISTS "${QB4II_HOST_FIRMWARE_PACKER}")
        message (FATAL_ERROR "A cross build needs QB4II_HOST_FIRMWARE_PACKER: the packer built for this machine")
    endif()
    set (QB4II_PACKER "${QB4II_HOST_FIRMWARE_PACKER}")
endif()

add_custom_command (
    OUTPUT "${QB4II_FIRMWARE_SYX}" "${QB4II_FIRMWARE_CPP}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${QB4II_FIRMWARE_DIR}"
    COMMAND "${QB4II_PACKER}" "${QB4II_FIRMWARE_HEX}" -o "${QB4II_FIRMWARE_SYX}" --cpp "${QB4II_FIRMWARE_CPP}"
        ${QB4II_FIRMWARE_VERSION_OPTION}
    DEPENDS "${QB4II_PACKER}" "${QB4II_FIRMWARE_HEX}"
    COMMENT "Checking and packing the firmware ${QB4II_FIRMWARE_HEX}"
    VERBATIM)

target_sources (qb4ii_firmware PRIVATE "${QB4II_FIRMWARE_CPP}")
