# Installs the build tree into a fresh prefix: the tree that the consumer
# tests build against.
#   cmake -DBUILD_DIR=... -DPREFIX=... [-DCONFIG=...] -P install_prefix.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(BUILD_DIR PREFIX)

file(REMOVE_RECURSE ${PREFIX})
set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
run_checked("cmake --install into ${PREFIX}"
  COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} ${config_args})
