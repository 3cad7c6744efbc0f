# Reads cmake/public-headers.txt, the one list of the public headers, for
# the install rules and for the scripts that check what was installed
# (include() it from a cmake -P script as well).

# cijobresults_public_headers(<var> <source dir>): the list's paths,
# relative to the source dir, without its comment lines.
function(cijobresults_public_headers var source_dir)
  set(list_file ${source_dir}/cmake/public-headers.txt)
  file(STRINGS ${list_file} headers REGEX "^[^#]")
  # A change of the list reconfigures the build, so that install follows it.
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  endif()
  set(${var} ${headers} PARENT_SCOPE)
endfunction()
