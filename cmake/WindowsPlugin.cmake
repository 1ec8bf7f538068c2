# The Windows VST3 module's version resource and factory presets; included at the
# end of Plugin.cmake when building for Windows (cmake/Windows.cmake).

# The version resource Windows shows in the module's file properties. It carries
# the module file's own version (BRASSGATE_MODULE_FILE_VERSION); hosts show the
# plug-in's version from the VST3 class information.
enable_language(RC)
set(BRASSGATE_RC_COMPANY "${BRASSGATE_VENDOR}")
set(BRASSGATE_RC_PRODUCT "${BRASSGATE_PRODUCT}")
set(BRASSGATE_RC_VERSION ${BRASSGATE_MODULE_FILE_VERSION})
string(REPLACE "." "," BRASSGATE_RC_VERSION_COMMAS "${BRASSGATE_RC_VERSION},0")
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/version.rc.in ${CMAKE_BINARY_DIR}/windows/version.rc @ONLY)
target_sources(BrassgateOrgan_VST3 PRIVATE ${CMAKE_BINARY_DIR}/windows/version.rc)

# The factory presets as VST3 preset files, written under Wine by the built
# module itself, as on Linux (there are no LV2 presets to write here).
add_custom_command(
    OUTPUT "${CMAKE_BINARY_DIR}/factory-presets/written.stamp"
    COMMAND presets --vst3 "${BRASSGATE_VST3_RUN_PATH}" --vst3-out "${BRASSGATE_RUN_PATH_PREFIX}${BRASSGATE_VST3_PRESETS}"
                    --version "${PROJECT_VERSION}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${CMAKE_BINARY_DIR}/factory-presets/written.stamp"
    DEPENDS presets BrassgateOrgan_VST3 "$<TARGET_FILE:BrassgateOrgan_VST3>"
    COMMENT "Writing the factory presets (under Wine)"
    VERBATIM)

# dist/: the zip a Windows user unpacks (CPack, run by scripts/windows.sh), one
# folder holding the VST3 bundle, the Standalone, the factory presets and a
# short note on where each goes, with Windows line ends for Notepad.
set(_folder "${BRASSGATE_PRODUCT} ${PROJECT_VERSION} for Windows")
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/Install.txt ${CMAKE_BINARY_DIR}/windows/Install.txt
               @ONLY NEWLINE_STYLE CRLF)
install(DIRECTORY "$<GENEX_EVAL:$<TARGET_PROPERTY:BrassgateOrgan_VST3,JUCE_PLUGIN_ARTEFACT_FILE>>"
        DESTINATION "${_folder}" COMPONENT windows)
install(PROGRAMS "$<TARGET_FILE:BrassgateOrgan_Standalone>" DESTINATION "${_folder}" COMPONENT windows)
install(DIRECTORY "${BRASSGATE_VST3_PRESETS}/" DESTINATION "${_folder}/Presets" COMPONENT windows
        FILES_MATCHING PATTERN "*.vstpreset")
install(FILES ${CMAKE_BINARY_DIR}/windows/Install.txt DESTINATION "${_folder}" COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VENDOR "${BRASSGATE_VENDOR}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-windows-x64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_SOURCE_DIR}/dist")
include(CPack)
