# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread
# model, for std::thread). Used for the Windows dependencies and the project alike
# (scripts/windows-deps.sh, scripts/windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRASSGATE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRASSGATE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRASSGATE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRASSGATE_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW-w64 root and from the prefix the
# Windows dependencies are installed into (CMAKE_PREFIX_PATH); programs run
# during the build (juceaide) are this machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${BRASSGATE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Windows x64 only promises 16-byte stack alignment, and GCC does not realign
# the stack for 32- and 64-byte vectors it spills there (GCC bug 54412): the
# assembler writes its aligned vector moves as unaligned ones, which are as fast
# on aligned data and never fault.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# The C and C++ runtimes and winpthread linked in: the programs and the plug-in
# import Windows system DLLs only, so a user copies one file per program. The
# symbol tables are left out (-s), as a Windows user has no use for them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -s")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -s")
