# Debian's JUCE with the fixes this project carries for it, applied to a copy of
# the affected module in the build tree; the installed files stay untouched.
# Each patch names the JUCE defect it works around and when it can be dropped.

find_program(PATCH_PROGRAM patch REQUIRED)

set(BRASSGATE_JUCE_PATCHES
    "${CMAKE_CURRENT_LIST_DIR}/patches/juce-vst3-state-trailer.patch"
    "${CMAKE_CURRENT_LIST_DIR}/patches/juce-vst3-long-blocks.patch"
    "${CMAKE_CURRENT_LIST_DIR}/patches/juce-vst3-deferred-restart.patch"
    "${CMAKE_CURRENT_LIST_DIR}/patches/juce-lv2-state-size.patch")
get_target_property(_juce_client_parent juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
set(_juce_client_source "${_juce_client_parent}/juce_audio_plugin_client")
set(_juce_client_copy "${CMAKE_BINARY_DIR}/juce-patched/juce_audio_plugin_client")

# A new copy whenever a patch changes (re-configuring when it does).
set(_juce_patch_stamp "")
foreach(_patch IN LISTS BRASSGATE_JUCE_PATCHES)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_patch}")
    file(SHA256 "${_patch}" _hash)
    string(APPEND _juce_patch_stamp "${_hash}\n")
endforeach()

set(_stamp_file "${_juce_client_copy}/.brassgate-patches")
set(_old_stamp "")
if(EXISTS "${_stamp_file}")
    file(READ "${_stamp_file}" _old_stamp)
endif()

if(NOT _old_stamp STREQUAL _juce_patch_stamp)
    file(REMOVE_RECURSE "${_juce_client_copy}")
    file(COPY "${_juce_client_source}" DESTINATION "${CMAKE_BINARY_DIR}/juce-patched")
    foreach(_patch IN LISTS BRASSGATE_JUCE_PATCHES)
        execute_process(COMMAND "${PATCH_PROGRAM}" --forward --batch -p1 -d "${_juce_client_copy}" -i "${_patch}"
                        RESULT_VARIABLE _result OUTPUT_VARIABLE _output ERROR_VARIABLE _output)
        if(NOT _result EQUAL 0)
            message(FATAL_ERROR "Could not apply ${_patch} to ${_juce_client_source}:\n${_output}")
        endif()
    endforeach()
    file(WRITE "${_stamp_file}" "${_juce_patch_stamp}")
endif()

# Every plug-in format's wrapper target lists the module's wrapper sources; point
# them at the patched copy. Their relative includes then resolve inside it.
foreach(_format VST3 LV2 Standalone VST AU AUv3 AAX Unity)
    if(TARGET juce_audio_plugin_client_${_format})
        get_target_property(_sources juce_audio_plugin_client_${_format} INTERFACE_SOURCES)
        list(TRANSFORM _sources REPLACE "^${_juce_client_source}/" "${_juce_client_copy}/")
        set_property(TARGET juce_audio_plugin_client_${_format} PROPERTY INTERFACE_SOURCES "${_sources}")
    endif()
endforeach()

# The wrapper sources also reach the module's headers through the module
# include path (<juce_audio_plugin_client/...>); a format target searches the
# copy first, so that each header is the same file wherever it is included from.
function(brassgate_use_patched_juce target)
    target_include_directories(${target} BEFORE PRIVATE "${CMAKE_BINARY_DIR}/juce-patched")
endfunction()
