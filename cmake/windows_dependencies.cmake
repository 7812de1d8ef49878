# Libraries of the Windows build. A native build (vcpkg) finds every package;
# a cross build from Linux has only header-only libraries, each exposed through
# a folder of its own so that no other Linux header can leak into the target.
set(VN_HEADER_FOLDERS ${CMAKE_BINARY_DIR}/header-folders)

# Makes an INTERFACE target whose include folder holds only the named entries
# of /usr/include (linked, not copied).
function(vn_header_folder target)
  set(folder ${VN_HEADER_FOLDERS}/${target})
  file(MAKE_DIRECTORY ${folder})
  foreach(entry IN LISTS ARGN)
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "/usr/include/${entry} is missing (scripts/install-deps.sh)")
    endif()
    file(CREATE_LINK /usr/include/${entry} ${folder}/${entry} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${folder})
endfunction()

find_package(nlohmann_json 3.10 QUIET)
if(NOT nlohmann_json_FOUND)
  vn_header_folder(vn_json_headers nlohmann)
  add_library(nlohmann_json::nlohmann_json ALIAS vn_json_headers)
endif()
find_package(CLI11 CONFIG QUIET)
if(NOT CLI11_FOUND)
  vn_header_folder(vn_cli11_headers CLI)
  add_library(CLI11::CLI11 ALIAS vn_cli11_headers)
endif()
find_package(SQLite3 QUIET)
# libtorrent (scripts/windows-deps.sh) asks for Boost, which is header-only
# here: Debian's headers, through a folder that holds nothing else.
if(CMAKE_CROSSCOMPILING)
  vn_header_folder(vn_boost_headers boost)
  set(Boost_NO_BOOST_CMAKE ON)
  set(Boost_INCLUDE_DIR ${VN_HEADER_FOLDERS}/vn_boost_headers CACHE PATH "")
endif()
find_package(LibtorrentRasterbar CONFIG QUIET)
find_package(GTest QUIET)
