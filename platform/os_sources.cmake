# Sockets and folders.
target_sources(vn_platform PRIVATE pipe_unix.cpp locations.cpp)
