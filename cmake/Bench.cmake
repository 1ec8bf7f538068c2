# `make bench`: the plug-in against a reference organ, scenario by scenario.
add_executable(bench tools/bench/BenchMain.cpp tools/render/MidiRenderer.cpp tools/render/Lv2Host.cpp)
target_include_directories(bench PRIVATE tools/render)
target_link_libraries(bench PRIVATE brassgate_juce_host brassgate_dsp PkgConfig::LILV)
target_compile_definitions(bench PRIVATE
    BRASSGATE_DEFAULT_VST3="${BRASSGATE_VST3_BUNDLE}"
    # The small-block rows play the built LV2 through lilv, whatever copy is installed.
    BRASSGATE_DEFAULT_LV2="$<GENEX_EVAL:$<TARGET_PROPERTY:BrassgateOrgan_LV2,JUCE_PLUGIN_ARTEFACT_FILE>>"
    JucePlugin_LV2URI="${BRASSGATE_LV2_URI}")
add_dependencies(bench BrassgateOrgan_VST3 BrassgateOrgan_LV2)
