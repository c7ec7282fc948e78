# The Windows programs' resources: the app icon (from the same artwork as the
# Linux icons), the version information and the application manifest; and the
# DLL search limited to System32.
#   qb4ii_windows_resources (TARGET FILE_NAME DESCRIPTION)
# gives TARGET its resources; FILE_NAME is its .exe's name, DESCRIPTION what
# Explorer and Task Manager show for it.

set (QB4II_WINDOWS_RESOURCES "${CMAKE_CURRENT_SOURCE_DIR}/resources/windows")
set (QB4II_WINDOWS_GENERATED "${CMAKE_CURRENT_BINARY_DIR}/windows")

# Windows wants four numbers: 1.0.7 is 1.0.7.0.
set (QB4II_WINDOWS_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string (REPLACE "." "," QB4II_WINDOWS_VERSION_COMMAS "${QB4II_WINDOWS_VERSION}")

# The icon: every size the artwork tool draws, the largest stored as PNG, as
# Windows Vista and later read it.
find_program (QB4II_ICOTOOL icotool REQUIRED) # Debian's icoutils
set (QB4II_WINDOWS_ICON "${QB4II_WINDOWS_GENERATED}/qb4ii-firmware-updater.ico")
set (icon_sizes 16 24 32 48 64 128)
list (TRANSFORM icon_sizes PREPEND "${QB4II_ROOT}/resources/icons/qb4ii-firmware-updater-" OUTPUT_VARIABLE icon_pngs)
list (TRANSFORM icon_pngs APPEND ".png")
set (icon_large "${QB4II_ROOT}/resources/icons/qb4ii-firmware-updater-256.png")
add_custom_command (OUTPUT "${QB4II_WINDOWS_ICON}"
    COMMAND "${QB4II_ICOTOOL}" -c -o "${QB4II_WINDOWS_ICON}" ${icon_pngs} "--raw=${icon_large}"
    DEPENDS ${icon_pngs} "${icon_large}" VERBATIM)
add_custom_target (qb4ii_windows_icon DEPENDS "${QB4II_WINDOWS_ICON}")

set (QB4II_WINDOWS_MANIFEST "${QB4II_WINDOWS_GENERATED}/qb4ii.manifest")
configure_file ("${QB4II_WINDOWS_RESOURCES}/qb4ii.manifest.in" "${QB4II_WINDOWS_MANIFEST}" @ONLY)

function (qb4ii_windows_resources target file_name description)
    set (QB4II_WINDOWS_FILE_NAME "${file_name}")
    set (QB4II_WINDOWS_DESCRIPTION "${description}")
    set (rc "${QB4II_WINDOWS_GENERATED}/${target}.rc")
    configure_file ("${QB4II_WINDOWS_RESOURCES}/qb4ii.rc.in" "${rc}" @ONLY)
    set_source_files_properties ("${rc}" TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS "${QB4II_WINDOWS_ICON};${QB4II_WINDOWS_MANIFEST}")
    add_dependencies (${target} qb4ii_windows_icon)

    # A JUCE app comes with its own resources.rc, a version block only: ours
    # takes its place.
    get_target_property (sources ${target} SOURCES)
    list (FILTER sources EXCLUDE REGEX "/JuceLibraryCode/resources\\.rc$")
    set_target_properties (${target} PROPERTIES SOURCES "${sources};${rc}")

    # DLLs from System32 only, for the static imports too (see dll-search.c;
    # WindowsPackaging.cmake sets the load configuration of the shipped copies).
    target_sources (${target} PRIVATE "${QB4II_WINDOWS_RESOURCES}/dll-search.c")
endfunction()
