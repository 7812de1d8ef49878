# Sockets, processes and folders: one binary, platform_os_tests. The channel
# cases (pipe_channel_test.cpp) are built for Windows too, with the Win32 raw client.
add_executable(platform_os_tests
  pipe_unix_test.cpp pipe_channel_test.cpp raw_pipe_client_unix.cpp
  locations_test.cpp output_file_test.cpp file_replace_test.cpp)
target_link_libraries(platform_os_tests PRIVATE vn_platform vn_test_main)
gtest_discover_tests(platform_os_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 30)
