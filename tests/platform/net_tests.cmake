# platform_net_tests: HTTP over libcurl against the loopback test server, and SHA-256.
add_executable(platform_net_tests
  http_curl_test.cpp
  sha256_test.cpp
  http_test_server_test.cpp)
target_link_libraries(platform_net_tests PRIVATE vn_platform vn_test_http_server vn_test_main)
gtest_discover_tests(platform_net_tests DISCOVERY_TIMEOUT 60)
