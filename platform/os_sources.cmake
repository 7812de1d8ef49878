# target_sources(vn_platform PRIVATE ...) for pipe_unix.cpp and locations.cpp
