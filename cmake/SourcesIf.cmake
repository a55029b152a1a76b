# Sources that belong to a target only where a condition holds: the backend for
# the operating system, or an optional part such as the kernel guard. The
# choice is made here, so no caller ever needs an #ifdef.
#
#   bw_sources_if(<target> IF <condition...> SOURCES <file>...)
#
# The condition is anything if() takes, e.g. `IF LINUX` or `IF NOT BW_KERNEL_GUARD`.

function(bw_sources_if target)
  cmake_parse_arguments(arg "" "" "IF;SOURCES" ${ARGN})
  if(NOT arg_IF OR NOT arg_SOURCES)
    message(FATAL_ERROR "bw_sources_if(${target}) needs IF <condition> and SOURCES <files>")
  endif()
  if(${arg_IF})
    target_sources(${target} PRIVATE ${arg_SOURCES})
  endif()
endfunction()
