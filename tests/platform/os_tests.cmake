# platform_os_tests: pipe, process and location tests
