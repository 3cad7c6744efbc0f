# Builds the jobresults tool as an outside project against the installed
# tree (tests/packaging/tool_outside) and runs it with the installed library.
#   cmake -DTOOL_DIR=<tools> -DBINARY_DIR=... -DPREFIX=... -DGENERATOR=...
#         -DCXX_COMPILER=... -DCXX_FLAGS=... -P tool_outside.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(TOOL_DIR BINARY_DIR PREFIX GENERATOR CXX_COMPILER)

file(REMOVE_RECURSE ${BINARY_DIR})
run_checked("configuring the tool outside the project"
  COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/tool_outside -B ${BINARY_DIR}
    -G ${GENERATOR} -DTOOL_DIR=${TOOL_DIR} -DCMAKE_PREFIX_PATH=${PREFIX}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run_checked("building the tool outside the project" COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR})

set(tool ${BINARY_DIR}/jobresults)
# Built with another version line than the library's: --version shows both,
# the loaded library's first.
run_checked("asking its version" COMMAND ${tool} --version OUTPUT_VARIABLE version)
set(iso_date "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9:]+Z")
if(NOT version MATCHES "^[0-9.]+ ${iso_date}\njobresults built with [0-9.]+\n$")
  message(FATAL_ERROR "unexpected output of --version:\n${version}")
endif()
