# What a Windows build makes beside the platform library: the native host, and
# the rest as far as the target's libraries allow (see README, "Windows").
# Every .exe in one folder, as they are shipped: programs find each other beside
# themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_subdirectory(apps/native-host)

# The service's own code is compiled for Windows even where it cannot be
# linked, so that portability faults show here and not on a Windows machine.
add_subdirectory(apps/service/task)
add_subdirectory(apps/service/engine)
add_subdirectory(apps/service/pipe)
if(NOT SQLite3_FOUND)
  # sqlite3.h is the same for every target; only the library is missing.
  vn_header_folder(vn_sqlite_headers sqlite3.h)
  add_library(SQLite::SQLite3 ALIAS vn_sqlite_headers)
endif()
add_subdirectory(apps/database)
add_subdirectory(apps/service/store)
if(LibtorrentRasterbar_FOUND AND VARNEL_WITH_TORRENT)
  add_library(PkgConfig::LIBTORRENT ALIAS LibtorrentRasterbar::torrent-rasterbar)
else()
  # libtorrent's and Boost's headers, to see whether the torrent engine compiles;
  # the service links the engine that never runs.
  vn_header_folder(vn_libtorrent_headers libtorrent boost)
  add_library(PkgConfig::LIBTORRENT ALIAS vn_libtorrent_headers)
  set(VARNEL_WITH_TORRENT OFF)
endif()
add_subdirectory(apps/service/torrent)
add_subdirectory(apps/service/core)
add_subdirectory(apps/varnel)

# service.exe links where the target has SQLite (vcpkg, or scripts/windows-deps.sh
# for the cross build), with the torrent engine where libtorrent is found too
# and VARNEL_WITH_TORRENT is on.
if(SQLite3_FOUND)
  add_executable(service apps/service/main.cpp apps/service/service_usage.cpp)
  target_include_directories(service PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(service PRIVATE vn_core vn_platform vn_platform_http vn_protocol)
endif()

if(VARNEL_TESTS)
  include(cmake/windows_tests.cmake)
endif()
