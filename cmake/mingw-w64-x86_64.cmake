# Cross-building for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads
# flavour, for std::thread and std::mutex), e.g.
#   cmake -S . -B build-windows -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
# The C++ runtime, libgcc and winpthread are linked statically, so the DLL and the
# programs need no mingw DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VIZADAVU_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VIZADAVU_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VIZADAVU_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VIZADAVU_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VIZADAVU_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static as the last word of the link line takes winpthread's archive as well.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# The programs built here run under wine: the project's CMakeLists makes a
# wrapper (tools/wine-run.sh.in) the emulator unless one is given.
