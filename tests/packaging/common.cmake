# Helpers shared by the packaging test scripts (run with cmake -P).

# run_checked(<what> COMMAND <command...> [OUTPUT_VARIABLE <var>])
# Runs the command and stops the script with its output when it fails.
function(run_checked what)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT_VARIABLE;WORKING_DIRECTORY" "COMMAND")
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  execute_process(COMMAND ${arg_COMMAND}
    WORKING_DIRECTORY ${arg_WORKING_DIRECTORY}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${arg_COMMAND}")
    message(FATAL_ERROR "${what} failed (${status}):\n  ${shown}\n${out}\n${err}")
  endif()
  message(STATUS "${what}: ok")
  if(arg_OUTPUT_VARIABLE)
    set(${arg_OUTPUT_VARIABLE} "${out}" PARENT_SCOPE)
  endif()
endfunction()

# require_vars(<name>...): the script was called with -D<name>=... each.
function(require_vars)
  foreach(name IN LISTS ARGN)
    if(NOT DEFINED ${name})
      message(FATAL_ERROR "missing -D${name}=...")
    endif()
  endforeach()
endfunction()

# run_consumer(<program> <work dir>): runs the example and checks that it
# reports the records it wrote and read back.
function(run_consumer program work_dir)
  run_checked("running ${program}" COMMAND ${program} ${work_dir} OUTPUT_VARIABLE out)
  if(NOT out MATCHES "consumer: 3 job results written to and read from ci_push_[0-9]+\\.xml")
    message(FATAL_ERROR "unexpected output of ${program}:\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()
