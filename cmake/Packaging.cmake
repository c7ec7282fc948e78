# Install rules and the Debian package: the updater and its terminal form
# (qb4ii-update), with the desktop entry, icons, AppStream metainfo, manual pages,
# copyright and changelog. Nothing else
# in the tree installs anything, so the package holds exactly these files.
#   scripts/package.sh builds it (cpack -G DEB in the Release build folder).

include (GNUInstallDirs)

set (QB4II_PACKAGE_NAME qb4ii-firmware-updater)
set (QB4II_APPSTREAM_ID com.korvan.QB4IIFirmwareUpdater)
set (QB4II_MAINTAINER "Korvan firmware updater team <firmware-updater@korvan.com>")
set (QB4II_HOMEPAGE "https://www.korvan.com/qb4ii/firmware-updater")

set (linux "${CMAKE_CURRENT_SOURCE_DIR}/resources/linux")
set (generated "${CMAKE_CURRENT_BINARY_DIR}/packaging")

# The release date, for the metainfo and the changelog, in both forms.
execute_process (COMMAND date -u -R -d "${QB4II_RELEASE_DATE}"
                 OUTPUT_VARIABLE QB4II_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)

configure_file ("${linux}/${QB4II_APPSTREAM_ID}.metainfo.xml.in" "${generated}/${QB4II_APPSTREAM_ID}.metainfo.xml" @ONLY)
configure_file ("${linux}/copyright.in" "${generated}/copyright" @ONLY)
configure_file ("${linux}/changelog.in" "${generated}/changelog" @ONLY)

# Debian wants the changelog and manual page compressed, reproducibly.
foreach (file changelog qb4ii-firmware-updater.1 qb4ii-update.1)
    if (file STREQUAL changelog)
        set (input "${generated}/changelog")
    else()
        set (input "${linux}/${file}")
    endif()
    add_custom_command (OUTPUT "${generated}/${file}.gz"
        COMMAND gzip -9nc "${input}" > "${generated}/${file}.gz"
        DEPENDS "${input}" VERBATIM)
    list (APPEND QB4II_COMPRESSED "${generated}/${file}.gz")
endforeach()

# The programs under their command names, stripped as Debian strips binaries.
set (QB4II_PACKAGED_PROGRAMS)
foreach (program ${QB4II_PACKAGE_NAME}:qb4ii_app qb4ii-update:qb4ii_update)
    string (REPLACE ":" ";" program "${program}")
    list (GET program 0 command)
    list (GET program 1 target)
    add_custom_command (OUTPUT "${generated}/${command}"
        COMMAND "${CMAKE_STRIP}" --remove-section=.comment --remove-section=.note --strip-unneeded
                -o "${generated}/${command}" "$<TARGET_FILE:${target}>"
        DEPENDS ${target} VERBATIM)
    list (APPEND QB4II_PACKAGED_PROGRAMS "${generated}/${command}")
endforeach()
add_custom_target (qb4ii_package_files ALL DEPENDS ${QB4II_COMPRESSED} ${QB4II_PACKAGED_PROGRAMS})

install (PROGRAMS ${QB4II_PACKAGED_PROGRAMS} DESTINATION "${CMAKE_INSTALL_BINDIR}")
install (FILES "${linux}/${QB4II_APPSTREAM_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install (FILES "${generated}/${QB4II_APPSTREAM_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach (size 16 24 32 48 64 128 256)
    install (FILES "${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/${QB4II_PACKAGE_NAME}-${size}.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps" RENAME "${QB4II_PACKAGE_NAME}.png")
endforeach()
install (FILES "${generated}/qb4ii-firmware-updater.1.gz" "${generated}/qb4ii-update.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install (FILES "${generated}/copyright" "${generated}/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${QB4II_PACKAGE_NAME}")

# The package.
set (CPACK_GENERATOR DEB)
set (CPACK_PACKAGE_NAME "${QB4II_PACKAGE_NAME}")
set (CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set (CPACK_PACKAGE_VENDOR Korvan)
set (CPACK_PACKAGE_CONTACT "${QB4II_MAINTAINER}")
set (CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the Korvan QB4 II DJ controller")
set (CPACK_PACKAGE_DESCRIPTION "The updater finds a Korvan QB4 II connected by USB among the MIDI
ports, shows the version of the firmware it runs, and writes the firmware
that comes with the updater, keeping the computer awake meanwhile. An
emergency mode writes the firmware to a controller whose firmware no
longer starts. qb4ii-update does the same from a terminal, for scripts
and for machines without a desktop.")
set (CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set (CPACK_DEBIAN_PACKAGE_SECTION sound)
set (CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set (CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QB4II_HOMEPAGE}")
# What the program links comes from dpkg-shlibdeps. JUCE loads Xlib and its
# extensions at run time instead (dlopen), which no tool can see: the window
# needs libX11 and libXext; the cursor, screen and rendering extensions and a
# font are used when present.
set (CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set (CPACK_DEBIAN_PACKAGE_DEPENDS "libx11-6, libxext6")
set (CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxcursor1, libxinerama1, libxrandr2, libxrender1, fonts-dejavu-core")
include (CPack)
