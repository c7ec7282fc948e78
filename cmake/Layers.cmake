# A folder of src/ seen on its own: an include root that holds that folder alone
# (build/layers/FOLDER/FOLDER links to src/FOLDER), so that "#include "FOLDER/..."" works
# where the root is given, and nowhere else.
function (qb4ii_folder_root target folder scope)
    set (root "${PROJECT_BINARY_DIR}/layers/${folder}")
    file (MAKE_DIRECTORY "${root}")
    file (CREATE_LINK "${QB4II_ROOT}/src/${folder}" "${root}/${folder}" SYMBOLIC)
    target_include_directories (${target} ${scope} "${root}")
endfunction()

# qb4ii_add_layer (TARGET FOLDER SOURCES...): the static library of one folder of
# src/, one layer of the program. A library sees its own folder and the folders of
# the layers it links, so "#include "engine/..."" does not compile in a layer below
# the engine: each library links only the layers below it.
function (qb4ii_add_layer target folder)
    add_library (${target} STATIC ${ARGN})
    qb4ii_folder_root (${target} ${folder} PUBLIC)
    target_link_libraries (${target} PRIVATE juce::juce_recommended_warning_flags)
endfunction()
