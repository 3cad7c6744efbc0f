# Crash-state simulator (bench/crashsim/README.md): a recorder shim logs the
# writer's file-system calls, crashsim.py enumerates the states a power
# loss can leave and judges each with the reader, check and salvage.
# Not under sanitizers: their runtime must come first, before any LD_PRELOAD.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND TARGET jobresults AND DEFINED Python3_EXECUTABLE
   AND NOT CIJOBRESULTS_SANITIZE)
  enable_language(C)
  add_library(crashsim_recorder SHARED ${PROJECT_SOURCE_DIR}/bench/crashsim/recorder.c)
  target_compile_options(crashsim_recorder PRIVATE -U_FORTIFY_SOURCE -Wall -Wextra)
  target_link_libraries(crashsim_recorder PRIVATE ${CMAKE_DL_LIBS} pthread)
  set_target_properties(crashsim_recorder PROPERTIES C_VISIBILITY_PRESET default)

  add_executable(crashsim_tool ${PROJECT_SOURCE_DIR}/bench/crashsim/crashsim_tool.cpp)
  target_link_libraries(crashsim_tool PRIVATE cijobresults cijobresults_warnings)

  # Bounded: every scenario and level, both models, a sample of the states
  # under a fixed seed. bench/crash_states runs them all.
  add_test(NAME crashsim.bounded
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/crashsim/crashsim.py
      --recorder $<TARGET_FILE:crashsim_recorder> --tool $<TARGET_FILE:crashsim_tool>
      --jobresults $<TARGET_FILE:jobresults> --work ${CMAKE_CURRENT_BINARY_DIR}/crashsim
      --levels none,name,append --sample 16 --seed 1 --assert)
  set_tests_properties(crashsim.bounded PROPERTIES TIMEOUT 120)

  # The judge is not blind: a record changed in place and unsynced appends
  # held to the figures of level append must both be caught.
  add_test(NAME crashsim.selftest
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/crashsim/crashsim.py
      --recorder $<TARGET_FILE:crashsim_recorder> --tool $<TARGET_FILE:crashsim_tool>
      --jobresults $<TARGET_FILE:jobresults> --work ${CMAKE_CURRENT_BINARY_DIR}/crashsim-selftest
      --sample 20 --seed 1 --selftest)
  set_tests_properties(crashsim.selftest PROPERTIES TIMEOUT 120)
endif()
