# Tests of the Windows build, run under Wine by scripts/test-windows.sh. The
# sources are the Linux tests' own wherever they use only portable calls.
if(NOT TARGET GTest::gtest)
  # GoogleTest from the distribution's sources, built with the cross compiler
  # (it names its own GTest::gtest).
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

set(VN_TESTS ${PROJECT_SOURCE_DIR}/tests)
add_library(vn_test_main STATIC
  ${VN_TESTS}/support/test_environment.cpp ${VN_TESTS}/support/test_main_win32.cpp)
target_include_directories(vn_test_main PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vn_test_main PUBLIC GTest::gtest vn_platform vn_platform_sha256)

add_executable(platform_tests
  ${VN_TESTS}/platform/sha256_test.cpp
  ${VN_TESTS}/platform/pipe_channel_test.cpp
  ${VN_TESTS}/platform/raw_pipe_client_win32.cpp
  ${VN_TESTS}/platform/http_served_file_test.cpp
  ${VN_TESTS}/platform/output_file_test.cpp
  ${VN_TESTS}/platform/file_replace_test.cpp)
target_link_libraries(platform_tests PRIVATE vn_test_main vn_platform_http vn_platform_sha256)

# varnel's own logic, the same tests as on Linux.
add_executable(varnel_unit_tests
  ${VN_TESTS}/varnel/byte_units_test.cpp
  ${VN_TESTS}/varnel/progress_line_test.cpp
  ${VN_TESTS}/varnel/requests_test.cpp
  ${VN_TESTS}/varnel/text_layout_test.cpp)
target_link_libraries(varnel_unit_tests PRIVATE vn_test_main vn_varnel_core)

# Stand-ins for the programs the end-to-end checks leave out: a pipe server
# answering as the service or the user interface would, and a program that
# records how it was started.
add_executable(pipe-peer ${VN_TESTS}/windows/pipe_peer_main.cpp)
target_include_directories(pipe-peer PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(pipe-peer PRIVATE vn_platform nlohmann_json::nlohmann_json)
add_executable(record-arguments ${VN_TESTS}/windows/record_arguments_main.cpp)
target_include_directories(record-arguments PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(record-arguments PRIVATE vn_platform)

# The engine's pieces that need no HTTP server: plans, the segment picker,
# partial files and their join, checksums, the speed limiter, worker threads.
add_executable(engine_unit_tests
  ${VN_TESTS}/engine/checksum_test.cpp
  ${VN_TESTS}/engine/download_plan_test.cpp
  ${VN_TESTS}/engine/partial_files_test.cpp
  ${VN_TESTS}/engine/segment_join_test.cpp
  ${VN_TESTS}/engine/segment_picker_test.cpp
  ${VN_TESTS}/engine/speed_limiter_test.cpp
  ${VN_TESTS}/engine/worker_threads_test.cpp)
target_link_libraries(engine_unit_tests PRIVATE vn_test_main vn_engine)
target_compile_options(engine_unit_tests PRIVATE -Wno-missing-field-initializers)

# Whole downloads through the engine and WinHTTP against serve-file.
add_executable(engine_download_tests
  ${VN_TESTS}/windows/served_download_test.cpp
  ${VN_TESTS}/engine/engine_test_support.cpp)
target_link_libraries(engine_download_tests PRIVATE vn_test_main vn_engine)
