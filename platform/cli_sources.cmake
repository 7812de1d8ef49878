# Platform sources that only command-line programs need (terminal questions).
# Kept out of vn_platform so the service and the native host do not carry them;
# a program adds them to its own target:
#   target_sources(varnel PRIVATE ${VN_PLATFORM_CLI_SOURCES})
if(WIN32)
  set(VN_PLATFORM_CLI_SOURCES ${CMAKE_CURRENT_LIST_DIR}/terminal_win32.cpp)
else()
  set(VN_PLATFORM_CLI_SOURCES ${CMAKE_CURRENT_LIST_DIR}/terminal_linux.cpp)
endif()
