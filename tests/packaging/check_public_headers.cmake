# Keeps cmake/public-headers.txt equal to the public headers of the tree,
# those at the top of xml/ and jobresults/ (internals live in detail/): a
# header added without its line would be neither installed nor packaged.
# The list stays sorted and without repeats, so that additions on two
# branches merge cleanly.
#   cmake -DSOURCE_DIR=... -P check_public_headers.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(SOURCE_DIR)
include(${SOURCE_DIR}/cmake/PublicHeaders.cmake)
cijobresults_public_headers(listed ${SOURCE_DIR})
file(GLOB in_tree LIST_DIRECTORIES false RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/xml/*.h ${SOURCE_DIR}/jobresults/*.h)

set(errors)
foreach(header IN LISTS in_tree)
  if(NOT header IN_LIST listed)
    list(APPEND errors "${header} is public but missing from the list")
  endif()
endforeach()
foreach(header IN LISTS listed)
  if(NOT EXISTS ${SOURCE_DIR}/${header})
    list(APPEND errors "the list names ${header}, which does not exist")
  elseif(NOT header IN_LIST in_tree)
    list(APPEND errors "the list names ${header}, which is not at the top of xml/ or jobresults/")
  endif()
endforeach()
set(sorted ${listed})
list(REMOVE_DUPLICATES sorted)
list(SORT sorted)
if(NOT sorted STREQUAL listed)
  list(APPEND errors "the list is not sorted (LC_ALL=C sort) or names a header twice")
endif()

if(errors)
  list(JOIN errors "\n  " shown)
  message(FATAL_ERROR "cmake/public-headers.txt:\n  ${shown}")
endif()
list(LENGTH listed count)
message(STATUS "${count} public headers, all listed")
