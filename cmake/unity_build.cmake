# Unity builds: a library's files compiled a batch at a time, so that the JSON
# library's templates are instantiated and optimised once per batch instead of
# once per file (the service's commands took a third of the time). Files whose
# file-local names collide with a neighbour's are left out by name. Off, every
# file is compiled on its own: a check that each includes what it uses.
option(VARNEL_UNITY_BUILD "Compile the JSON-heavy libraries in batches" ON)

# vn_unity_build(target [SKIP file...])
function(vn_unity_build target)
  if(NOT VARNEL_UNITY_BUILD)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SKIP")
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
  if(arg_SKIP)
    set_source_files_properties(${arg_SKIP} TARGET_DIRECTORY ${target}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
endfunction()
