# Compiles examples/consumer/consumer.cpp with the flags that pkg-config
# gives for the installed tree, and runs it.
#   cmake -DSOURCE_DIR=<examples/consumer> -DBINARY_DIR=... -DPREFIX=...
#         -DLIBDIR=... -DVERSION=... -DPKG_CONFIG=... -DCXX_COMPILER=...
#         -DCXX_FLAGS=... -P consumer_pkgconfig.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(SOURCE_DIR BINARY_DIR PREFIX LIBDIR VERSION CXX_COMPILER)
if(NOT PKG_CONFIG)
  message(FATAL_ERROR "pkg-config not found: install it (scripts/deps.sh does)")
endif()

file(REMOVE_RECURSE ${BINARY_DIR})
file(MAKE_DIRECTORY ${BINARY_DIR})
# Only the prefix's own .pc files: a system-wide one must not answer.
set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
set(ENV{PKG_CONFIG_LIBDIR} ${PREFIX}/${LIBDIR}/pkgconfig)

run_checked("pkg-config --modversion" COMMAND ${PKG_CONFIG} --modversion cijobresults
  OUTPUT_VARIABLE modversion)
string(STRIP "${modversion}" modversion)
if(NOT modversion STREQUAL VERSION)
  message(FATAL_ERROR "pkg-config reports version ${modversion}, expected ${VERSION}")
endif()
run_checked("pkg-config --cflags --libs" COMMAND ${PKG_CONFIG} --cflags --libs cijobresults
  OUTPUT_VARIABLE flags)
string(STRIP "${flags}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
# The paths run through the .pc file's own directory (prefix=${pcfiledir}/..):
# compare them resolved.
get_filename_component(wanted_include ${PREFIX}/include/cijobresults REALPATH)
set(found_include OFF)
foreach(flag IN LISTS flags)
  if(flag MATCHES "^-I(.+)$")
    get_filename_component(include_dir "${CMAKE_MATCH_1}" REALPATH)
    if(include_dir STREQUAL wanted_include)
      set(found_include ON)
    endif()
  endif()
endforeach()
if(NOT found_include)
  message(FATAL_ERROR "pkg-config flags lack the prefix's include directory: ${flags}")
endif()
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")

set(program ${BINARY_DIR}/consumer)
run_checked("compiling the consumer with pkg-config flags"
  COMMAND ${CXX_COMPILER} -std=c++17 ${cxx_flags}
    ${SOURCE_DIR}/consumer.cpp ${flags} -Wl,-rpath,${PREFIX}/${LIBDIR} -o ${program})
run_consumer(${program} ${BINARY_DIR}/work)
