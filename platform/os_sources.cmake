# Sockets and folders.
target_sources(vn_platform PRIVATE pipe_unix.cpp)
# target_sources(vn_platform PRIVATE ...) for locations.cpp
