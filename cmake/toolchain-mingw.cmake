# Cross-build for Windows with Debian's MinGW-w64 (posix thread model: the
# win32 model has no std::mutex). -DKESTROVA_WINDOWS_ARCH=x86 builds what a
# 32-bit spooler loads, x64 what a 64-bit one loads.
set(KESTROVA_WINDOWS_ARCH "" CACHE STRING "x86 or x64")
if(KESTROVA_WINDOWS_ARCH STREQUAL "x86")
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(KESTROVA_MINGW_TRIPLET i686-w64-mingw32)
elseif(KESTROVA_WINDOWS_ARCH STREQUAL "x64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(KESTROVA_MINGW_TRIPLET x86_64-w64-mingw32)
else()
  message(FATAL_ERROR "cmake/toolchain-mingw.cmake: give -DKESTROVA_WINDOWS_ARCH=x86 or x64 (not '${KESTROVA_WINDOWS_ARCH}')")
endif()
# The compiler checks' own projects read this file again and need the choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTROVA_WINDOWS_ARCH)
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTROVA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROVA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROVA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
