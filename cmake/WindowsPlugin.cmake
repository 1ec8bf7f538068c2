# The Windows VST3 module's version resource and factory presets; included at the
# end of Plugin.cmake when building for Windows (cmake/Windows.cmake).

# The version resource Windows shows in the module's file properties. It carries
# the module file's own version, 3.0.0; hosts show the plug-in's version, 5.0.0,
# from the VST3 class information.
enable_language(RC)
get_target_property(BRASSGATE_RC_COMPANY BrassgateOrgan JUCE_COMPANY_NAME)
get_target_property(BRASSGATE_RC_PRODUCT BrassgateOrgan JUCE_PRODUCT_NAME)
set(BRASSGATE_RC_VERSION 3.0.0)
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
