# platform_net_tests: http and sha256 tests
