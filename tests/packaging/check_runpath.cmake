# Fails when a program or shared library under DIR carries an empty entry
# in its RUNPATH or RPATH: the loader searches an empty entry as the
# current directory, so whatever directory a program is started in could
# supply its libraries. The packaging tests' own builds (consumers, Debian
# packages) are left out. Usage: cmake -DDIR=<build tree> -P check_runpath.cmake
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${DIR}/*")
list(FILTER candidates EXCLUDE REGEX
  "/CMakeFiles/|^${DIR}/packaging-test/|\\.(o|a|cpp|h|txt|cmake|json|py|xml|log|ninja)$")
set(checked 0)
set(empty)
foreach(file IN LISTS candidates)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  # READ_ELF leaves a variable as it was when there is nothing to set.
  unset(runpath)
  unset(rpath)
  unset(not_elf)
  file(READ_ELF "${file}" RUNPATH runpath RPATH rpath CAPTURE_ERROR not_elf)
  if(not_elf)
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  # READ_ELF gives the entries as a list; the path ":" is two empty ones.
  foreach(entries IN ITEMS runpath rpath)
    if(DEFINED ${entries} AND ("${${entries}}" STREQUAL "" OR "${${entries}}" MATCHES "^;|;;|;$"))
      string(REPLACE ";" ":" path "${${entries}}")
      list(APPEND empty "${file}: ${entries} '${path}'")
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no program or library under ${DIR}")
endif()
if(empty)
  list(JOIN empty "\n  " lines)
  message(FATAL_ERROR "empty search path entries:\n  ${lines}")
endif()
message(STATUS "${checked} programs and libraries, none with an empty search path entry")
