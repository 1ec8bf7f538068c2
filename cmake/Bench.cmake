# `make bench`: the plug-in against a reference organ, scenario by scenario.
add_executable(bench tools/bench/BenchMain.cpp tools/render/MidiRenderer.cpp tools/render/Lv2Host.cpp)
target_include_directories(bench PRIVATE tools/render)
target_link_libraries(bench PRIVATE brassgate_juce_host brassgate_dsp PkgConfig::LILV)
target_compile_definitions(bench PRIVATE BRASSGATE_DEFAULT_VST3="${BRASSGATE_VST3_BUNDLE}")
add_dependencies(bench BrassgateOrgan_VST3)
