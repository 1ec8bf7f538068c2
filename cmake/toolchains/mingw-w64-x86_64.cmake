# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread
# model, for std::thread). Used for the Windows dependencies and the project alike
# (scripts/windows-deps.sh, scripts/windows.sh). Compilers and find modes only:
# what the Windows programs link and how they are packaged is set on the targets
# (cmake/Windows.cmake, cmake/WindowsPlugin.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and headers come from the MinGW-w64 root and from the prefix the
# Windows dependencies are installed into (CMAKE_PREFIX_PATH); programs run
# during the build (juceaide) are this machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
