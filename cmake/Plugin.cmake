# The plug-in (VST3, LV2, Standalone) and the JUCE-based tools, on Debian's JUCE.
# Exactly the JUCE the patches in cmake/patches/ were made for: another version
# may have moved or fixed what they correct (cmake/PatchedJuce.cmake).
find_package(JUCE 7.0.5 EXACT CONFIG REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/PatchedJuce.cmake)

# LV2: the plug-in format, and LV2 plug-ins hosted through lilv by the tools.
# Linux hosts use it; the Windows build (cmake/Windows.cmake) leaves it out.
if(NOT DEFINED BRASSGATE_WITH_LV2)
    set(BRASSGATE_WITH_LV2 ON)
endif()
set(BRASSGATE_PLUGIN_FORMATS VST3 Standalone)
if(BRASSGATE_WITH_LV2)
    list(INSERT BRASSGATE_PLUGIN_FORMATS 1 LV2)
endif()

# Debian's JUCE uses the system zlib, libpng and libjpeg instead of bundled copies,
# and ships without FLAC and Ogg support; a browser and curl are not needed here.
# The libraries are found like any other (on Windows, in the prefix
# scripts/windows-deps.sh builds), each with its own headers.
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
set(BRASSGATE_JUCE_DEFINITIONS
    JUCE_USE_FLAC=0
    JUCE_USE_OGGVORBIS=0
    JUCE_WEB_BROWSER=0
    JUCE_USE_CURL=0
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_REPORT_APP_USAGE=0)
set(BRASSGATE_JUCE_SYSTEM_LIBS ZLIB::ZLIB PNG::PNG JPEG::JPEG)

# A stable LV2 URI: hosts store it in their sessions.
set(BRASSGATE_LV2_URI "https://orrinmoor.example/plugins/brassgate-organ")

juce_add_plugin(BrassgateOrgan
    PRODUCT_NAME "${BRASSGATE_PRODUCT}"
    COMPANY_NAME "${BRASSGATE_VENDOR}"
    COMPANY_WEBSITE "https://orrinmoor.example"
    VERSION ${PROJECT_VERSION}
    PLUGIN_MANUFACTURER_CODE Qmrk
    PLUGIN_CODE Zbtl
    IS_SYNTH TRUE
    NEEDS_MIDI_INPUT TRUE
    NEEDS_MIDI_OUTPUT FALSE
    IS_MIDI_EFFECT FALSE
    EDITOR_WANTS_KEYBOARD_FOCUS FALSE
    VST3_CATEGORIES Instrument Synth
    LV2URI "${BRASSGATE_LV2_URI}"
    FORMATS ${BRASSGATE_PLUGIN_FORMATS})

foreach(_format ${BRASSGATE_PLUGIN_FORMATS})
    brassgate_use_patched_juce(BrassgateOrgan_${_format})
endforeach()

# In a sanitizer build the module leaves the sanitizer runtime's symbols to the
# program that loads it (the host tests, the fuzzer), as instrumented plug-ins
# must; JUCE's link check for undefined symbols would refuse that.
if(BRASSGATE_SANITIZERS)
    foreach(_format VST3 LV2)
        get_target_property(_options BrassgateOrgan_${_format} LINK_OPTIONS)
        list(REMOVE_ITEM _options "-Wl,--no-undefined")
        set_property(TARGET BrassgateOrgan_${_format} PROPERTY LINK_OPTIONS "${_options}")
    endforeach()
endif()

target_sources(BrassgateOrgan PRIVATE
    source/processor/OrganProcessor.cpp
    source/processor/SavedStateReader.cpp
    source/editor/OrganEditor.cpp)

# The editor's look and its custom controls.
target_sources(BrassgateOrgan PRIVATE
    source/ui/OrganLookAndFeel.cpp
    source/ui/DrawbarSlider.cpp
    source/ui/OrganButton.cpp
    source/ui/CRTOverlay.cpp)

target_include_directories(BrassgateOrgan PUBLIC source/processor source/editor source/ui)

target_compile_definitions(BrassgateOrgan PUBLIC
    ${BRASSGATE_JUCE_DEFINITIONS}
    # JUCE's default, spelled out because the drawbar, speed and brake controllers
    # reach the processor through it: VST3 hosts send controllers as parameter
    # changes and the wrapper turns them back into MIDI controller messages.
    JUCE_VST3_EMULATE_MIDI_CC_WITH_PARAMETERS=1
    # There is no VST2 version to replace (and Debian ships no VST2 headers).
    JUCE_VST3_CAN_REPLACE_VST2=0
    # Debian's JUCE falls back to the product name as the LV2 URI unless it is
    # defined for every translation unit, not only the LV2 wrapper's.
    JucePlugin_LV2URI="${BRASSGATE_LV2_URI}")

target_link_libraries(BrassgateOrgan
    PRIVATE
        juce::juce_audio_utils
    PUBLIC
        brassgate_dsp
        ${BRASSGATE_JUCE_SYSTEM_LIBS}
        juce::juce_recommended_config_flags
        juce::juce_recommended_warning_flags)

# JUCE as a static library for the programs that host plug-ins (the render tool,
# the host tests, the benchmark runner), compiled once and shared by all of them.
add_library(brassgate_juce_host STATIC)
target_link_libraries(brassgate_juce_host
    PRIVATE
        juce::juce_audio_processors
        juce::juce_audio_formats
        juce::juce_audio_utils
    PUBLIC
        ${BRASSGATE_JUCE_SYSTEM_LIBS}
        brassgate_platform
        juce::juce_recommended_config_flags)
target_compile_definitions(brassgate_juce_host
    PUBLIC
        ${BRASSGATE_JUCE_DEFINITIONS}
        JUCE_PLUGINHOST_VST3=1
        JUCE_PLUGINHOST_LV2=$<BOOL:${BRASSGATE_WITH_LV2}>
        JUCE_STANDALONE_APPLICATION=1
        JUCE_MODAL_LOOPS_PERMITTED=1
    INTERFACE
        $<TARGET_PROPERTY:brassgate_juce_host,COMPILE_DEFINITIONS>)
target_include_directories(brassgate_juce_host INTERFACE
    $<TARGET_PROPERTY:brassgate_juce_host,INCLUDE_DIRECTORIES>)
set_target_properties(brassgate_juce_host PROPERTIES
    VISIBILITY_INLINES_HIDDEN TRUE
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden)

# LV2 plug-ins are hosted by lilv, the LV2 reference library; a build without
# LV2 has a stand-in that says so (NoLv2Host.cpp).
add_executable(render tools/render/RenderMain.cpp tools/render/MidiRenderer.cpp)
target_include_directories(render PRIVATE tools/render)
target_link_libraries(render PRIVATE brassgate_juce_host)
if(BRASSGATE_WITH_LV2)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
    target_sources(render PRIVATE tools/render/Lv2Host.cpp)
    target_link_libraries(render PRIVATE PkgConfig::LILV)
else()
    target_sources(render PRIVATE tools/render/NoLv2Host.cpp)
endif()
set(BRASSGATE_VST3_BUNDLE "$<GENEX_EVAL:$<TARGET_PROPERTY:BrassgateOrgan_VST3,JUCE_PLUGIN_ARTEFACT_FILE>>")
# The VST3 as the programs built here load it: the bundle, or on Windows the
# module inside it, as Wine shows it (cmake/Windows.cmake).
if(NOT DEFINED BRASSGATE_VST3_RUN_PATH)
    set(BRASSGATE_VST3_RUN_PATH "${BRASSGATE_VST3_BUNDLE}")
endif()
target_compile_definitions(render PRIVATE BRASSGATE_DEFAULT_VST3="${BRASSGATE_VST3_RUN_PATH}")
add_dependencies(render BrassgateOrgan_VST3)

# The side-by-side benchmark runner behind `make bench` (its peers are LV2).
if(BRASSGATE_WITH_LV2)
    include(cmake/Bench.cmake OPTIONAL)
endif()

# Renders the editor to PNG files for the documentation: scripts/screenshots.sh.
add_executable(screenshots tools/screenshots/ScreenshotMain.cpp)
target_include_directories(screenshots PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,INCLUDE_DIRECTORIES>)
target_compile_definitions(screenshots PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,COMPILE_DEFINITIONS>)
target_link_libraries(screenshots PRIVATE BrassgateOrgan)

# The factory registrations (source/processor/FactoryPresets.cpp) as VST3 preset
# files and LV2 presets, written by the built plug-ins themselves after every
# build of either; the LV2 bundle's generated metadata is corrected on the way.
set(BRASSGATE_LV2_BUNDLE "$<GENEX_EVAL:$<TARGET_PROPERTY:BrassgateOrgan_LV2,JUCE_PLUGIN_ARTEFACT_FILE>>")
set(BRASSGATE_VST3_PRESETS "${CMAKE_BINARY_DIR}/factory-presets/vst3")
add_executable(presets tools/presets/PresetMain.cpp source/processor/FactoryPresets.cpp source/engine/ParameterTable.cpp)
target_include_directories(presets PRIVATE source/processor source/engine)
target_link_libraries(presets PRIVATE brassgate_juce_host)
target_compile_definitions(presets PRIVATE JucePlugin_LV2URI="${BRASSGATE_LV2_URI}")
if(BRASSGATE_WITH_LV2)
    add_custom_command(
        OUTPUT "${CMAKE_BINARY_DIR}/factory-presets/written.stamp"
        COMMAND presets --vst3 "${BRASSGATE_VST3_BUNDLE}" --vst3-out "${BRASSGATE_VST3_PRESETS}"
                        --lv2 "${BRASSGATE_LV2_BUNDLE}" --version "${PROJECT_VERSION}"
        COMMAND "${CMAKE_COMMAND}" -E touch "${CMAKE_BINARY_DIR}/factory-presets/written.stamp"
        DEPENDS presets BrassgateOrgan_VST3 BrassgateOrgan_LV2
                "$<TARGET_FILE:BrassgateOrgan_VST3>" "$<TARGET_FILE:BrassgateOrgan_LV2>"
        COMMENT "Writing the factory presets"
        VERBATIM)
endif() # Without LV2, cmake/WindowsPlugin.cmake writes the VST3 presets alone.
add_custom_target(factory_presets ALL DEPENDS "${CMAKE_BINARY_DIR}/factory-presets/written.stamp")

# The number of factory presets, from their table, and the product's names and
# versions for the scripts and the tests that read them (sourced by shells).
file(STRINGS ${PROJECT_SOURCE_DIR}/source/processor/FactoryPresets.h _count REGEX "numFactoryPresets = [0-9]+")
string(REGEX REPLACE ".*= ([0-9]+).*" "\\1" BRASSGATE_PRESET_COUNT "${_count}")
file(WRITE ${CMAKE_BINARY_DIR}/product.env
    "BRASSGATE_VENDOR='${BRASSGATE_VENDOR}'\nBRASSGATE_PRODUCT='${BRASSGATE_PRODUCT}'\n"
    "BRASSGATE_VERSION='${PROJECT_VERSION}'\nBRASSGATE_PRESET_COUNT='${BRASSGATE_PRESET_COUNT}'\n")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/source/processor/FactoryPresets.h)

# The Windows module's version resource and the Windows distribution.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsPlugin.cmake)
endif()
