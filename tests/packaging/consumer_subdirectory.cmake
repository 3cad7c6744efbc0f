# Builds examples/consumer with the source tree as a subdirectory of its
# own build, runs it, and checks that only the library came along: no
# tests, no tool, no Python module.
#   cmake -DSOURCE_DIR=<examples/consumer> -DPROJECT_DIR=<source tree>
#         -DBINARY_DIR=... -DGENERATOR=... -DCXX_COMPILER=... -DCXX_FLAGS=...
#         -P consumer_subdirectory.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(SOURCE_DIR PROJECT_DIR BINARY_DIR GENERATOR CXX_COMPILER)

file(REMOVE_RECURSE ${BINARY_DIR})
run_checked("configuring the consumer"
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
    -DCIJOBRESULTS_SOURCE=${PROJECT_DIR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}")
run_checked("listing the consumer's targets"
  COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} --target help OUTPUT_VARIABLE targets)
foreach(unwanted jobresults cijobresults_python cijobresults_test_support)
  if(targets MATCHES "(^|[\n /])${unwanted}[:\n]")
    message(FATAL_ERROR "the consumer's build holds the target ${unwanted}:\n${targets}")
  endif()
endforeach()
run_checked("building the consumer" COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR})
run_consumer(${BINARY_DIR}/consumer ${BINARY_DIR}/work)
