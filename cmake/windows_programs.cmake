# What a Windows build makes beside the platform library: the native host, and
# the rest as far as the target's libraries allow (see README, "Windows").
# Every .exe in one folder, as they are shipped: programs find each other beside
# themselves.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_subdirectory(apps/native-host)
if(VARNEL_TESTS)
  include(cmake/windows_tests.cmake)
endif()
