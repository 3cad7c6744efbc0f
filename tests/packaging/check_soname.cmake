# cmake -DLIBRARY=<file> -DEXPECTED=<soname> -P check_soname.cmake
# Fails unless the dynamic section of LIBRARY names EXPECTED as its SONAME.
cmake_minimum_required(VERSION 3.20)
find_program(READELF NAMES readelf llvm-readelf REQUIRED)
execute_process(COMMAND ${READELF} -d ${LIBRARY}
  OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf -d ${LIBRARY} failed: ${status}")
endif()
if(NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[([^]\n]*)\\]")
  message(FATAL_ERROR "${LIBRARY} has no SONAME")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} has SONAME ${CMAKE_MATCH_1}, expected ${EXPECTED}")
endif()
message(STATUS "SONAME ${CMAKE_MATCH_1}")
