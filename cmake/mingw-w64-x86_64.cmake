# CMake toolchain file: cross-builds 64-bit Windows programs on Debian with
# mingw-w64 (package g++-mingw-w64-x86-64-posix) and runs them under Wine.
#
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON \
#     -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
#     -DCMAKE_PREFIX_PATH="$HOME/.cache/velmor-windows-deps/prefix"
#
# scripts/windows-deps builds that prefix (static libxml2, GoogleTest, Qt 6).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
# The "-posix" compilers use the winpthreads thread model: std::thread,
# std::mutex and std::condition_variable only exist with it.
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries, headers and CMake packages come only from the mingw sysroot and
# the dependency prefixes, never from the host's /usr (those are Linux ones);
# programs (moc, rcc, uic, wine) do come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${_mingw})
# Every prefix in CMAKE_PREFIX_PATH is also a find root; otherwise the ONLY
# modes below would re-root it under /usr/x86_64-w64-mingw32 and miss it.
# With none given, the default cache of scripts/windows-deps is used.
if(NOT CMAKE_PREFIX_PATH)
    if(DEFINED ENV{VELMOR_WINDOWS_DEPS})
        set(_deps "$ENV{VELMOR_WINDOWS_DEPS}/prefix")
    else()
        set(_deps "$ENV{HOME}/.cache/velmor-windows-deps/prefix")
    endif()
    if(EXISTS "${_deps}")
        set(CMAKE_PREFIX_PATH "${_deps}")
    endif()
endif()
foreach(_prefix IN LISTS CMAKE_PREFIX_PATH)
    if(NOT _prefix IN_LIST CMAKE_FIND_ROOT_PATH)
        list(APPEND CMAKE_FIND_ROOT_PATH "${_prefix}")
    endif()
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link libgcc, libstdc++ and winpthreads statically: Wine has none of the
# mingw runtime DLLs, and a program needing them exits at once.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Lets CMake run the built programs (gtest_discover_tests, ctest) under Wine.
# WINEDEBUG=-all silences Wine's fixme lines and its "wine32 is missing"
# hint, which would otherwise mix into the output that CMake parses.
find_program(WINE_PROGRAM NAMES wine wine64)
if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${WINE_PROGRAM})
endif()
