# What a Windows build makes beside the platform library: the native host, and
# the rest as far as the target's libraries allow (see README, "Windows").
add_subdirectory(apps/native-host)
if(VARNEL_TESTS)
  include(cmake/windows_tests.cmake)
endif()
