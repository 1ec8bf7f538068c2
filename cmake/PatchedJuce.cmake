# Debian's JUCE with the fixes this project carries for it, applied to copies of
# the affected modules in the build tree; the installed files stay untouched.
#
# The patches are cmake/patches/NN-*.patch, applied in the order of their
# numbers, each with paths inside JUCE's modules folder (a/MODULE/...). Each
# names the JUCE defect it works around, when it can be dropped and whether a
# later JUCE fixes it (a "Later JUCE:" line). They were made for exactly the
# JUCE that Plugin.cmake requires; configuring stops when one no longer applies
# or when a patched module's sources are no longer compiled from the copy.

find_program(PATCH_PROGRAM patch REQUIRED)

file(GLOB BRASSGATE_JUCE_PATCHES "${CMAKE_CURRENT_LIST_DIR}/patches/*.patch")
list(SORT BRASSGATE_JUCE_PATCHES)
get_target_property(_juce_modules juce::juce_core INTERFACE_JUCE_MODULE_PATH)
set(_juce_copy "${CMAKE_BINARY_DIR}/juce-patched")

# The modules the patches change, and the stamp that says which copy is in the
# build tree: the JUCE version and modules folder it was taken from, and every
# patch by name and content. A new copy whenever any of them changes.
set(_patched_modules "")
set(_juce_patch_stamp "JUCE ${JUCE_VERSION} at ${_juce_modules}\n")
foreach(_patch IN LISTS BRASSGATE_JUCE_PATCHES)
    get_filename_component(_name "${_patch}" NAME)
    if(NOT _name MATCHES "^[0-9][0-9]-")
        message(FATAL_ERROR "${_patch}: a patch's name starts with the two-digit number of its place in the order")
    endif()
    file(STRINGS "${_patch}" _later REGEX "^Later JUCE: ")
    file(STRINGS "${_patch}" _targets REGEX "^\\+\\+\\+ b/")
    if(NOT _later OR NOT _targets)
        message(FATAL_ERROR "${_patch}: needs a \"Later JUCE:\" line in its header and paths b/MODULE/...")
    endif()
    foreach(_target IN LISTS _targets)
        string(REGEX REPLACE "^\\+\\+\\+ b/([^/]+)/.*" "\\1" _module "${_target}")
        list(APPEND _patched_modules "${_module}")
    endforeach()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_patch}")
    file(SHA256 "${_patch}" _hash)
    string(APPEND _juce_patch_stamp "${_name} ${_hash}\n")
endforeach()
list(REMOVE_DUPLICATES _patched_modules)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/patches")

set(_stamp_file "${_juce_copy}/.brassgate-patches")
set(_old_stamp "")
if(EXISTS "${_stamp_file}")
    file(READ "${_stamp_file}" _old_stamp)
endif()

if(NOT _old_stamp STREQUAL _juce_patch_stamp)
    file(REMOVE_RECURSE "${_juce_copy}")
    foreach(_module IN LISTS _patched_modules)
        if(NOT IS_DIRECTORY "${_juce_modules}/${_module}")
            message(FATAL_ERROR "The JUCE patches change ${_module}, which ${_juce_modules} does not have")
        endif()
        file(COPY "${_juce_modules}/${_module}" DESTINATION "${_juce_copy}")
    endforeach()
    foreach(_patch IN LISTS BRASSGATE_JUCE_PATCHES)
        execute_process(COMMAND "${PATCH_PROGRAM}" --forward --batch -p1 -d "${_juce_copy}" -i "${_patch}"
                        RESULT_VARIABLE _result OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
        if(NOT _result EQUAL 0)
            message(FATAL_ERROR "Could not apply ${_patch} to JUCE ${JUCE_VERSION} in ${_juce_modules}:\n${_output}")
        endif()
    endforeach()
    file(WRITE "${_stamp_file}" "${_juce_patch_stamp}")
endif()

# Each patched module's targets list the module's sources (for the plug-in
# client, one target per plug-in format); point them at the copy. Their
# relative includes then resolve inside it. A module none of whose sources was
# redirected would be built unpatched, so that stops the configuration.
foreach(_module IN LISTS _patched_modules)
    set(_redirected 0)
    foreach(_suffix "" _VST3 _LV2 _Standalone _VST _AU _AUv3 _AAX _Unity)
        if(NOT TARGET ${_module}${_suffix})
            continue()
        endif()
        get_target_property(_sources ${_module}${_suffix} INTERFACE_SOURCES)
        if(NOT _sources)
            continue()
        endif()
        set(_moved "${_sources}")
        list(TRANSFORM _moved REPLACE "^${_juce_modules}/${_module}/" "${_juce_copy}/${_module}/")
        foreach(_source IN LISTS _moved)
            if(_source MATCHES "^${_juce_copy}/")
                math(EXPR _redirected "${_redirected} + 1")
            endif()
        endforeach()
        set_property(TARGET ${_module}${_suffix} PROPERTY INTERFACE_SOURCES "${_moved}")
    endforeach()
    if(_redirected EQUAL 0)
        message(FATAL_ERROR "The JUCE patches change ${_module}, but no target compiles its sources from "
                            "${_juce_modules}/${_module}: the patched copy would not be built")
    endif()
endforeach()

# The plug-in client's wrapper sources also reach the module's headers through
# the module include path (<juce_audio_plugin_client/...>); a format target
# searches the copies first, so that each header is the same file wherever it
# is included from.
function(brassgate_use_patched_juce target)
    target_include_directories(${target} BEFORE PRIVATE "${CMAKE_BINARY_DIR}/juce-patched")
endfunction()
