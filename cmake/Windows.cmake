# Windows: cross-built on Debian with MinGW-w64 (cmake/toolchains/mingw-w64-x86_64.cmake,
# scripts/windows.sh), its programs run under Wine. Included right after project().

# The Windows libraries built from Debian's source packages: Highway, libpng,
# libjpeg-turbo and GoogleTest (scripts/windows-deps.sh), found through their
# CMake packages and find modules like Linux's; zlib comes with MinGW-w64.
set(BRASSGATE_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps/prefix" CACHE PATH
    "Prefix holding the Windows libraries built by scripts/windows-deps.sh")
if(NOT EXISTS "${BRASSGATE_WINDOWS_DEPS}/lib/cmake/hwy")
    message(FATAL_ERROR "No Windows libraries in ${BRASSGATE_WINDOWS_DEPS}: run scripts/windows-deps.sh")
endif()
list(PREPEND CMAKE_PREFIX_PATH "${BRASSGATE_WINDOWS_DEPS}")
list(APPEND CMAKE_FIND_ROOT_PATH "${BRASSGATE_WINDOWS_DEPS}")

# What every Windows program and module of this build links, through
# brassgate_platform (CMakeLists.txt), which the engine library and the JUCE
# host library pass on to everything built on them.
#
# Windows x64 only promises 16-byte stack alignment, and GCC does not realign
# the stack for 32- and 64-byte vectors it spills there (GCC bug 54412): the
# assembler writes its aligned vector moves as unaligned ones, which are as fast
# on aligned data and never fault. scripts/windows-deps.sh builds Highway with
# the same option.
target_compile_options(brassgate_platform INTERFACE -Wa,-muse-unaligned-vector-move)

# The C and C++ runtimes and winpthread linked in: the programs and the plug-in
# import Windows system DLLs only, so a user copies one file per program, and
# the tests run under Wine without MinGW-w64's DLLs beside them.
option(BRASSGATE_STATIC_RUNTIME "Link the C and C++ runtimes into the Windows programs and module" ON)
if(BRASSGATE_STATIC_RUNTIME)
    target_link_options(brassgate_platform INTERFACE -static)
    # The libraries found for them are the static ones too (zlib also comes as a DLL).
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()
# Release files go to users without their symbol tables; other build types keep
# them for the debugger.
target_link_options(brassgate_platform INTERFACE $<$<CONFIG:Release,MinSizeRel>:-s>)

# The single-precision sine and cosine of Linux's C library (Arm's routines, as
# glibc has them; scripts/windows-deps.sh takes them from Debian's newlib
# source), linked into every program and module of this build in place of
# MinGW-w64's, which differ from them in the last bit of about one value in
# seventy. The rotary speaker reads its delay lines at the sines of the rotor
# angles, and last-bit changes of its delays became changes of up to 3.8e-5 in
# a bright voice organ's output; with the same sines the two platforms' renders
# agree to the bit (tests/windows/compare_renders.py).
set(_sines "${BRASSGATE_WINDOWS_DEPS}/src/float-sines")
add_library(brassgate_float_sines STATIC
    ${_sines}/sinf.c ${_sines}/cosf.c ${_sines}/sincosf.c ${_sines}/sincosf_data.c ${_sines}/math_errf.c
    ${CMAKE_CURRENT_LIST_DIR}/windows/sincos.c)
target_include_directories(brassgate_float_sines PRIVATE ${_sines})
target_compile_options(brassgate_float_sines PRIVATE -ffp-contract=off -fno-builtin-sin -fno-builtin-cos
    -fno-builtin-sinl -fno-builtin-cosl -w)
target_link_libraries(brassgate_platform INTERFACE brassgate_float_sines)

# Debian's JUCE package, installed for this machine (its multiarch folder, which
# a Windows target does not search): its CMake code and juceaide run here, the
# modules it compiles are for Windows.
if(NOT JUCE_DIR)
    file(GLOB _juce_configs /usr/lib/*/cmake/JUCE-*/JUCEConfig.cmake)
    if(_juce_configs)
        list(GET _juce_configs 0 _juce_config)
        get_filename_component(JUCE_DIR "${_juce_config}" DIRECTORY)
    endif()
endif()

# VST3 and the Standalone: LV2 is for Linux hosts, and so are the LV2 hosting of
# the tools and the benchmarks against LV2 peers.
set(BRASSGATE_WITH_LV2 OFF)
set(BRASSGATE_BUILD_BENCHMARKS OFF)

# The programs built here run under Wine: the factory-preset writer during the
# build, the tests after it. Wine shows this machine's root directory as drive
# Z:, so the paths compiled into them or handed to them start with it.
set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/scripts/wine-run.sh;${CMAKE_BINARY_DIR}/wine"
    CACHE STRING "Runs the Windows programs of this build")
set(BRASSGATE_RUN_PATH_PREFIX "Z:")

# JUCE's VST3 hosting on Windows loads the module inside the bundle.
set(BRASSGATE_VST3_RUN_PATH "${BRASSGATE_RUN_PATH_PREFIX}$<TARGET_FILE:BrassgateOrgan_VST3>")
