# The Windows downloads, built with the programs (scripts/build-windows.sh):
#   QB4II-Firmware-Updater-VERSION-Setup.exe, the NSIS installer
#     (resources/windows/installer.nsi), and
#   QB4II-Firmware-Updater-VERSION-Portable.zip, the same programs in a folder,
#     to run from wherever it is unpacked.
# Both hold the updater, qb4ii-update and the licence, stripped as shipped, with
# their load configuration set (cmake/set-pe-load-config.py).

find_program (QB4II_MAKENSIS makensis REQUIRED) # Debian's nsis
find_program (QB4II_PYTHON python3 REQUIRED)

string (REPLACE " " "-" download_name "${QB4II_PRODUCT_NAME}-${PROJECT_VERSION}")
set (QB4II_WINDOWS_INSTALLER "${CMAKE_CURRENT_BINARY_DIR}/${download_name}-Setup.exe")
set (QB4II_WINDOWS_ZIP "${CMAKE_CURRENT_BINARY_DIR}/${download_name}-Portable.zip")

# The staged folder: what the ZIP holds and the installer installs.
set (stage "${QB4II_WINDOWS_GENERATED}/${QB4II_PRODUCT_NAME}")
set (staged)
foreach (program "${QB4II_PRODUCT_NAME}.exe:qb4ii_app" "qb4ii-update.exe:qb4ii_update")
    string (REPLACE ":" ";" program "${program}")
    list (GET program 0 file)
    list (GET program 1 target)
    add_custom_command (OUTPUT "${stage}/${file}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${stage}"
        COMMAND "${CMAKE_STRIP}" --strip-unneeded -o "${stage}/${file}" "$<TARGET_FILE:${target}>"
        COMMAND "${QB4II_PYTHON}" "${QB4II_ROOT}/cmake/set-pe-load-config.py" "${CMAKE_NM}" "$<TARGET_FILE:${target}>" "${stage}/${file}"
        DEPENDS ${target} "${QB4II_ROOT}/cmake/set-pe-load-config.py" VERBATIM)
    list (APPEND staged "${stage}/${file}")
endforeach()
add_custom_command (OUTPUT "${stage}/LICENSE.txt"
    COMMAND "${CMAKE_COMMAND}" -E copy "${QB4II_ROOT}/LICENSE" "${stage}/LICENSE.txt"
    DEPENDS "${QB4II_ROOT}/LICENSE" VERBATIM)
list (APPEND staged "${stage}/LICENSE.txt")

add_custom_command (OUTPUT "${QB4II_WINDOWS_INSTALLER}"
    COMMAND "${QB4II_MAKENSIS}" -V2 -INPUTCHARSET UTF8
            "-DQB4II_PRODUCT_NAME=${QB4II_PRODUCT_NAME}"
            "-DQB4II_COMPANY_NAME=${QB4II_COMPANY_NAME}"
            "-DQB4II_VERSION=${PROJECT_VERSION}"
            "-DQB4II_WINDOWS_VERSION=${QB4II_WINDOWS_VERSION}"
            "-DQB4II_COPYRIGHT=${QB4II_COPYRIGHT}"
            "-DQB4II_STAGE=${stage}"
            "-DQB4II_ICON=${QB4II_WINDOWS_ICON}"
            "-DQB4II_OUTFILE=${QB4II_WINDOWS_INSTALLER}"
            "${QB4II_WINDOWS_RESOURCES}/installer.nsi"
    DEPENDS ${staged} "${QB4II_WINDOWS_ICON}" "${QB4II_WINDOWS_RESOURCES}/installer.nsi" VERBATIM)

# Fixed times, so that the same programs give the same archive.
add_custom_command (OUTPUT "${QB4II_WINDOWS_ZIP}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${QB4II_WINDOWS_ZIP}"
    COMMAND "${CMAKE_COMMAND}" -E tar cf "${QB4II_WINDOWS_ZIP}" --format=zip --mtime=${QB4II_RELEASE_DATE} "${QB4II_PRODUCT_NAME}"
    WORKING_DIRECTORY "${QB4II_WINDOWS_GENERATED}"
    DEPENDS ${staged} VERBATIM)

add_custom_target (qb4ii_windows_downloads ALL DEPENDS "${QB4II_WINDOWS_INSTALLER}" "${QB4II_WINDOWS_ZIP}")
