# Cross-building the Windows program on Linux with mingw-w64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

# Libraries and headers come from the cross environment only; programs from
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The program needs only the system's own DLLs: the C++ runtime, libgcc and
# the threads library are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
