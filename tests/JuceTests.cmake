# Tests of the processor itself: they link the plug-in's shared code directly.
add_executable(processor_tests
    processor/TestMain.cpp
    processor/ProcessorTest.cpp
    processor/StateTest.cpp
    processor/AllocationTest.cpp
    processor/ChainTest.cpp
    processor/SavedStateReaderTest.cpp
    processor/RoomReverbTest.cpp)
target_include_directories(processor_tests PRIVATE processor support)
target_link_libraries(processor_tests PRIVATE BrassgateOrgan GTest::gtest)
brassgate_add_gtests(processor_tests)
# The plug-in target compiles JUCE privately: take over its headers and settings.
target_include_directories(processor_tests PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,INCLUDE_DIRECTORIES>)
target_compile_definitions(processor_tests PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,COMPILE_DEFINITIONS>)

# Tests of the built VST3 module, loaded through JUCE's VST3 hosting as a DAW loads it.
add_executable(host_tests processor/TestMain.cpp host/HostTest.cpp)
target_link_libraries(host_tests PRIVATE brassgate_juce_host GTest::gtest)
target_compile_definitions(host_tests PRIVATE
    BRASSGATE_VST3_PATH="${BRASSGATE_VST3_RUN_PATH}"
    BRASSGATE_VENDOR="${BRASSGATE_VENDOR}"
    BRASSGATE_VERSION="${PROJECT_VERSION}"
    # Damaged saved states: every input that ever broke a restore is kept here.
    BRASSGATE_DAMAGED_STATES="${BRASSGATE_TEST_DATA}/damaged-states")
add_dependencies(host_tests BrassgateOrgan_VST3)
brassgate_add_gtests(host_tests)

# Tests of the editor and its controls: they link the plug-in's shared code like the
# processor tests. They draw into images only and need no display.
add_executable(editor_tests
    processor/TestMain.cpp
    editor/EditorLayoutTest.cpp
    editor/OrganTypeTest.cpp
    editor/DrawbarTest.cpp
    editor/EditorLifetimeTest.cpp)
target_include_directories(editor_tests PRIVATE editor $<TARGET_PROPERTY:BrassgateOrgan,INCLUDE_DIRECTORIES>)
target_compile_definitions(editor_tests PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,COMPILE_DEFINITIONS>)
target_link_libraries(editor_tests PRIVATE BrassgateOrgan GTest::gtest)
brassgate_add_gtests(editor_tests)

# The editor as a host opens it, inside the built VST3 module.
target_sources(host_tests PRIVATE editor/HostEditorTest.cpp)

# The factory presets as the built VST3 loads them, against the table they come from.
target_sources(host_tests PRIVATE
    host/PresetTest.cpp
    ${PROJECT_SOURCE_DIR}/source/processor/FactoryPresets.cpp
    ${PROJECT_SOURCE_DIR}/source/engine/ParameterTable.cpp)
target_include_directories(host_tests PRIVATE support ${PROJECT_SOURCE_DIR}/source/processor ${PROJECT_SOURCE_DIR}/source/engine)
target_compile_definitions(host_tests PRIVATE BRASSGATE_VST3_PRESETS="${BRASSGATE_RUN_PATH_PREFIX}${BRASSGATE_VST3_PRESETS}")
add_dependencies(host_tests factory_presets)

# The fuzz target on the state restore path a host takes (scripts/sanitize.sh).
if(BRASSGATE_FUZZ)
    add_executable(state_fuzzer fuzz/StateFuzzer.cpp
        ${PROJECT_SOURCE_DIR}/source/processor/SavedStateReader.cpp
        ${PROJECT_SOURCE_DIR}/source/engine/ParameterTable.cpp)
    target_include_directories(state_fuzzer PRIVATE host support ${PROJECT_SOURCE_DIR}/source/processor ${PROJECT_SOURCE_DIR}/source/engine)
    target_link_libraries(state_fuzzer PRIVATE brassgate_juce_host PkgConfig::LILV ${CMAKE_DL_LIBS})
    target_link_options(state_fuzzer PRIVATE -fsanitize=fuzzer)
    target_compile_definitions(state_fuzzer PRIVATE
        BRASSGATE_VST3_PATH="${BRASSGATE_VST3_BUNDLE}"
        BRASSGATE_LV2_BUNDLE="${BRASSGATE_LV2_BUNDLE}"
        BRASSGATE_LV2_LIBRARY="$<TARGET_FILE:BrassgateOrgan_LV2>"
        JucePlugin_LV2URI="${BRASSGATE_LV2_URI}")
    add_dependencies(state_fuzzer BrassgateOrgan_VST3 BrassgateOrgan_LV2)
endif()

# What follows needs the LV2 plug-in and Linux hosts (lilv, Ardour).
if(NOT BRASSGATE_WITH_LV2)
    return()
endif()

# The built LV2 bundle read with lilv, as LV2 hosts read it.
add_executable(lv2_tests lv2/Lv2BundleTest.cpp
    ${PROJECT_SOURCE_DIR}/source/processor/FactoryPresets.cpp
    ${PROJECT_SOURCE_DIR}/source/engine/ParameterTable.cpp)
target_include_directories(lv2_tests PRIVATE support ${PROJECT_SOURCE_DIR}/source/processor ${PROJECT_SOURCE_DIR}/source/engine)
target_link_libraries(lv2_tests PRIVATE brassgate_juce_host PkgConfig::LILV GTest::gtest_main)
target_compile_definitions(lv2_tests PRIVATE
    BRASSGATE_LV2_BUNDLE="${BRASSGATE_LV2_BUNDLE}"
    JucePlugin_LV2URI="${BRASSGATE_LV2_URI}"
    BRASSGATE_VENDOR="${BRASSGATE_VENDOR}"
    # Damaged states of both kinds: as the LV2 wrapper stores them, and the plug-in's own.
    BRASSGATE_DAMAGED_LV2_STATES="${CMAKE_CURRENT_SOURCE_DIR}/data/damaged-lv2-states"
    BRASSGATE_DAMAGED_STATES="${CMAKE_CURRENT_SOURCE_DIR}/data/damaged-states")
add_dependencies(lv2_tests factory_presets)
brassgate_add_gtests(lv2_tests)

# The command-line tools: help, and a distinct error for each kind of mistake.
add_test(NAME Tools.render COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli_test.sh render $<TARGET_FILE:render> ${PROJECT_SOURCE_DIR}
                                    "${BRASSGATE_LV2_BUNDLE}")
if(TARGET bench)
    add_test(NAME Tools.bench COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tools/cli_test.sh bench $<TARGET_FILE:bench> ${PROJECT_SOURCE_DIR})
endif()

# The plug-ins in a real DAW: Debian's Ardour 7, headless (ardour7-lua on its
# dummy audio engine), for the VST3 and the LV2. Each Ardour run inside is bounded
# by a timeout, so that a hang fails instead of stalling.
foreach(_format vst3 lv2)
    add_test(NAME Ardour.${_format}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/ardour/run.sh
                     "${BRASSGATE_VST3_BUNDLE}" "${BRASSGATE_LV2_BUNDLE}" "${BRASSGATE_VST3_PRESETS}" ${_format})
    set_tests_properties(Ardour.${_format} PROPERTIES TIMEOUT 400 LABELS ardour ENVIRONMENT
        "BRASSGATE_VENDOR=${BRASSGATE_VENDOR};BRASSGATE_PRODUCT=${BRASSGATE_PRODUCT};BRASSGATE_PRESET_COUNT=${BRASSGATE_PRESET_COUNT}")
endforeach()

# The audio thread of the built VST3 and LV2, watched by a probe loaded ahead
# of the C library that notes every allocation, lock wait and system call.
# Linux only (LD_PRELOAD), and not in sanitizer builds, whose runtimes take
# the allocator's place themselves.
if(BRASSGATE_WITH_LV2 AND NOT BRASSGATE_SANITIZERS AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    add_library(realtime_probe SHARED realtime/RealTimeProbe.cpp)
    target_link_libraries(realtime_probe PRIVATE ${CMAKE_DL_LIBS})
    add_executable(realtime_tests processor/TestMain.cpp realtime/RealTimeTest.cpp)
    target_include_directories(realtime_tests PRIVATE realtime host fuzz)
    target_link_libraries(realtime_tests PRIVATE brassgate_juce_host GTest::gtest ${CMAKE_DL_LIBS})
    target_compile_definitions(realtime_tests PRIVATE
        BRASSGATE_VST3_PATH="${BRASSGATE_VST3_BUNDLE}"
        BRASSGATE_VST3_LIBRARY="$<TARGET_FILE:BrassgateOrgan_VST3>"
        BRASSGATE_LV2_BUNDLE="${BRASSGATE_LV2_BUNDLE}"
        BRASSGATE_LV2_LIBRARY="$<TARGET_FILE:BrassgateOrgan_LV2>"
        JucePlugin_LV2URI="${BRASSGATE_LV2_URI}")
    add_dependencies(realtime_tests BrassgateOrgan_VST3 BrassgateOrgan_LV2 realtime_probe)
    gtest_discover_tests(realtime_tests DISCOVERY_TIMEOUT 120
        PROPERTIES ENVIRONMENT "LD_PRELOAD=$<TARGET_FILE:realtime_probe>" TIMEOUT 300)
endif()
