# Builds the Debian packages with CPack into a directory of its own and
# checks names, dependencies and contents.
#   cmake -DBUILD_DIR=... -DOUTPUT_DIR=... -DVERSION=... -DSOVERSION=...
#         -DLIBDIR=... -DHAVE_TOOL=ON|OFF [-DCONFIG=...] -P check_deb.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(BUILD_DIR OUTPUT_DIR VERSION SOVERSION LIBDIR HAVE_TOOL)
find_program(CPACK NAMES cpack HINTS ${CMAKE_COMMAND}/.. REQUIRED)
find_program(DPKG_DEB dpkg-deb REQUIRED)

file(REMOVE_RECURSE ${OUTPUT_DIR})
set(config_args)
if(CONFIG)
  set(config_args -C ${CONFIG})
endif()
run_checked("cpack -G DEB"
  COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUTPUT_DIR}
    ${config_args})

string(TOLOWER "${CONFIG}" CONFIG_LOWER)
if(NOT CONFIG_LOWER)
  set(CONFIG_LOWER noconfig)
endif()
set(errors)
set(runtime libcijobresults${SOVERSION})

# check_package(<name> <depends regex...> CONTAINS <path...>)
# The package exists once, its Depends field matches every regex and its
# regular files and links are exactly the given paths (under /usr).
function(check_package name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEPENDS;CONTAINS")
  file(GLOB debs ${OUTPUT_DIR}/${name}_*.deb)
  list(LENGTH debs count)
  if(NOT count EQUAL 1)
    set(errors ${errors} "expected one ${name}_*.deb, found ${count}" PARENT_SCOPE)
    return()
  endif()
  run_checked("dpkg-deb --field ${name}" COMMAND ${DPKG_DEB} --field ${debs} Version Depends
    OUTPUT_VARIABLE fields)
  if(NOT fields MATCHES "Version: ${VERSION}\n")
    list(APPEND errors "${name}: wrong version:\n${fields}")
  endif()
  foreach(depends IN LISTS arg_DEPENDS)
    if(NOT fields MATCHES "Depends: [^\n]*${depends}")
      list(APPEND errors "${name}: Depends does not match \"${depends}\":\n${fields}")
    endif()
  endforeach()
  run_checked("dpkg-deb --contents ${name}" COMMAND ${DPKG_DEB} --contents ${debs}
    OUTPUT_VARIABLE listing)
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  set(files)
  foreach(line IN LISTS lines)
    # "-rw-r--r-- root/root 88128 2026-01-01 00:00 ./usr/lib/x [-> y]"
    if(line MATCHES "^[-l][^ ]* .* \\./(usr/[^ ]+)")
      list(APPEND files ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(SORT files)
  list(TRANSFORM arg_CONTAINS PREPEND usr/)
  list(SORT arg_CONTAINS)
  if(NOT files STREQUAL arg_CONTAINS)
    list(JOIN files "\n    " files)
    list(JOIN arg_CONTAINS "\n    " arg_CONTAINS)
    list(APPEND errors "${name}: contents\n    ${files}\n  expected\n    ${arg_CONTAINS}")
  endif()
  set(errors ${errors} PARENT_SCOPE)
endfunction()

set(lib ${LIBDIR}/libcijobresults.so)
set(cmakedir ${LIBDIR}/cmake/cijobresults)
check_package(${runtime}
  DEPENDS "libc6 " "libstdc\\+\\+6 "
  CONTAINS ${lib}.${SOVERSION} ${lib}.${VERSION})
check_package(libcijobresults-dev
  DEPENDS "${runtime} \\(= ${VERSION}\\)"
  CONTAINS ${lib}
    include/cijobresults/jobresults/cijobresults.h include/cijobresults/xml/XmlNode.h
    include/cijobresults/jobresults/JobResultsReader.h
    ${cmakedir}/cijobresultsConfig.cmake ${cmakedir}/cijobresultsConfigVersion.cmake
    ${cmakedir}/cijobresultsTargets.cmake ${cmakedir}/cijobresultsTargets-${CONFIG_LOWER}.cmake
    ${LIBDIR}/pkgconfig/cijobresults.pc)
if(HAVE_TOOL)
  check_package(jobresults
    DEPENDS "${runtime} \\(= ${VERSION}\\)" "libc6 "
    CONTAINS bin/jobresults)
endif()

if(errors)
  list(JOIN errors "\n" shown)
  message(FATAL_ERROR "${shown}")
endif()
file(GLOB debs RELATIVE ${OUTPUT_DIR} ${OUTPUT_DIR}/*.deb)
message(STATUS "packages as expected: ${debs}")
