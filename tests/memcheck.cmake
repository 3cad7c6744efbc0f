# Memory checking. With -DCIJOBRESULTS_MEMCHECK=ON every GoogleTest
# executable also runs whole under valgrind memcheck, as the CTest test
# memcheck.<executable> with the label "memcheck":
#   ctest --test-dir build-vg -L memcheck
# A run fails on any memcheck error and on any definitely lost block.
# Programs that a test executes are not traced; forked children are, and
# stay silent. Tests can read CIJOBRESULTS_UNDER_VALGRIND=1 from the
# environment to shorten loops that only repeat work.
option(CIJOBRESULTS_MEMCHECK "Run the test executables under valgrind memcheck (label memcheck)" OFF)
if(CIJOBRESULTS_MEMCHECK)
  find_program(CIJOBRESULTS_VALGRIND valgrind REQUIRED)
  foreach(source IN LISTS CIJOBRESULTS_TEST_SOURCES)
    get_filename_component(name ${source} NAME_WE)
    add_test(NAME memcheck.${name}
      COMMAND ${CIJOBRESULTS_VALGRIND} --tool=memcheck --error-exitcode=99
              --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite
              --track-fds=no --child-silent-after-fork=yes --num-callers=30
              $<TARGET_FILE:${name}>)
    set_tests_properties(memcheck.${name} PROPERTIES
      LABELS memcheck
      TIMEOUT 1800
      ENVIRONMENT CIJOBRESULTS_UNDER_VALGRIND=1)
  endforeach()
endif()
