# Builds examples/consumer as an outside project against the installed
# tree, finding it with find_package(cijobresults CONFIG), and runs it.
#   cmake -DSOURCE_DIR=<examples/consumer> -DBINARY_DIR=... -DPREFIX=...
#         -DGENERATOR=... -DCXX_COMPILER=... -DCXX_FLAGS=... -DBUILD_TYPE=...
#         -P consumer_cmake.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(SOURCE_DIR BINARY_DIR PREFIX GENERATOR CXX_COMPILER)

file(REMOVE_RECURSE ${BINARY_DIR})
run_checked("configuring the consumer"
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${PREFIX}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE})

# The package must come from the prefix, not from anywhere else.
file(STRINGS ${BINARY_DIR}/CMakeCache.txt found_at REGEX "^cijobresults_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_at "${found_at}")
get_filename_component(found_at "${found_at}" REALPATH)
get_filename_component(real_prefix ${PREFIX} REALPATH)
string(FIND "${found_at}" "${real_prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "find_package found cijobresults in ${found_at}, not under ${PREFIX}")
endif()

set(config_args)
if(BUILD_TYPE)
  set(config_args --config ${BUILD_TYPE})
endif()
run_checked("building the consumer"
  COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} ${config_args})
set(program ${BINARY_DIR}/consumer)
if(NOT EXISTS ${program})
  set(program ${BINARY_DIR}/${BUILD_TYPE}/consumer)
endif()
run_consumer(${program} ${BINARY_DIR}/work)
