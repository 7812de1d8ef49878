# Sockets, processes and folders: one binary, platform_os_tests.
add_executable(platform_os_tests
  pipe_unix_test.cpp locations_test.cpp output_file_test.cpp file_replace_test.cpp)
target_link_libraries(platform_os_tests PRIVATE vn_platform vn_test_main)
gtest_discover_tests(platform_os_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 30)
