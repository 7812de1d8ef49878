# Sockets, folders, files and the processes a client starts.
target_sources(vn_platform PRIVATE
  pipe_unix.cpp locations.cpp output_file_linux.cpp file_replace_linux.cpp regular_file_linux.cpp
  background_process_linux.cpp)
# Locks between processes that share a file.
target_sources(vn_platform PRIVATE file_lock_linux.cpp)
