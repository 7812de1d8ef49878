# Sockets, folders, files and the processes a client starts.
if(WIN32)
  target_sources(vn_platform PRIVATE
    pipe_win32.cpp locations.cpp locations_win32.cpp output_file_win32.cpp
    file_replace_win32.cpp background_process_win32.cpp file_lock_win32.cpp)
else()
  target_sources(vn_platform PRIVATE
    pipe_unix.cpp locations.cpp locations_linux.cpp output_file_linux.cpp file_replace_linux.cpp
    background_process_linux.cpp)
  # Locks between processes that share a file.
  target_sources(vn_platform PRIVATE file_lock_linux.cpp)
endif()
