# Programs and modules are installed from twins linked for the install,
# never from the binaries the build tree runs. Installing a build-tree
# binary, CMake edits its RPATH in place, and the room it keeps for that
# edit is a run of empty entries at the end of the build tree's RUNPATH,
# which the loader searches as the current directory. (The Ninja generator
# cannot relink at install instead.) A target without an install rule gets
# its plain build RPATH; its twin is linked from the same objects with the
# install RPATH built in. tests/packaging/check_runpath.cmake keeps it so.

# Installs `target` into DESTINATION (COMPONENT) as a twin linked with
# `rpath` (a list) as its RPATH, under the target's own file name. The
# twin is built as "<file name>.installed" in the directory "installed"
# beside the target: a file named like a target would take that target's
# name in Ninja. `target` takes its code from libraries only (an OBJECT
# library for its own sources), so that the twin compiles nothing again.
function(cijobresults_install_twin target rpath)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "DESTINATION;COMPONENT" "")
  get_target_property(type ${target} TYPE)
  set(twin ${target}_installed)
  if(type STREQUAL "EXECUTABLE")
    add_executable(${twin})
  else()
    add_library(${twin} MODULE)
  endif()
  get_target_property(libraries ${target} LINK_LIBRARIES)
  target_link_libraries(${twin} PRIVATE ${libraries})
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  foreach(property PREFIX SUFFIX)
    get_target_property(value ${target} ${property})
    if(NOT value STREQUAL "value-NOTFOUND")
      set_property(TARGET ${twin} PROPERTY ${property} "${value}")
      set(${property} "${value}")  # for the installed file name
    endif()
  endforeach()
  get_target_property(directory ${target} BINARY_DIR)
  set_target_properties(${twin} PROPERTIES
    OUTPUT_NAME ${name}.installed
    RUNTIME_OUTPUT_DIRECTORY ${directory}/installed
    LIBRARY_OUTPUT_DIRECTORY ${directory}/installed
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "${rpath}")
  install(PROGRAMS $<TARGET_FILE:${twin}>
    DESTINATION ${arg_DESTINATION}
    RENAME ${PREFIX}${name}${SUFFIX}
    COMPONENT ${arg_COMPONENT})
endfunction()
