# Cross-builds for Windows x86-64 with Debian's mingw-w64 (posix threads, so
# std::thread and std::mutex work). Programs link statically: a .exe runs with
# no runtime DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VN_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VN_MINGW_PREFIX})
# SQLite and libtorrent built for the target (scripts/windows-deps.sh). A root
# of its own: CMAKE_PREFIX_PATH would be re-rooted under the one above.
if(DEFINED ENV{VARNEL_WINDOWS_DEPS} AND NOT "$ENV{VARNEL_WINDOWS_DEPS}" STREQUAL "")
  set(VARNEL_WINDOWS_DEPS "$ENV{VARNEL_WINDOWS_DEPS}" CACHE PATH "SQLite and libtorrent for the target")
endif()
if(VARNEL_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VARNEL_WINDOWS_DEPS})
endif()
# Libraries and headers come only from the target's root: a Linux library must
# never satisfy a Windows find_package.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
