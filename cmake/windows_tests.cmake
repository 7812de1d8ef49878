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
target_link_libraries(vn_test_main PUBLIC GTest::gtest vn_platform)

add_executable(platform_tests
  ${VN_TESTS}/platform/sha256_test.cpp
  ${VN_TESTS}/platform/pipe_channel_test.cpp
  ${VN_TESTS}/platform/raw_pipe_client_win32.cpp
  ${VN_TESTS}/platform/http_served_file_test.cpp
  ${VN_TESTS}/platform/output_file_test.cpp
  ${VN_TESTS}/platform/file_replace_test.cpp)
target_link_libraries(platform_tests PRIVATE vn_test_main vn_platform_http vn_platform_sha256)
