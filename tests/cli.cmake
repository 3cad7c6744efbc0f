# Tests of the jobresults tool: unit tests of its parsing and formatting
# code, and end-to-end runs of the built binary.
if(TARGET jrtool_core)
  file(GLOB JOBRESULTS_CLI_UNIT_SOURCES CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_LIST_DIR}/cli/unit/test_*.cpp)
  add_executable(cli_units ${JOBRESULTS_CLI_UNIT_SOURCES})
  target_include_directories(cli_units PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(cli_units PRIVATE jrtool_core cijobresults_warnings
    GTest::gtest GTest::gtest_main)
  gtest_discover_tests(cli_units TEST_PREFIX "cli." DISCOVERY_TIMEOUT 60)
endif()

if(TARGET jobresults)
  foreach(group roundtrip malformed check salvage list exitcodes concurrent sync writer prune)
    add_test(NAME cli.e2e.${group}
      COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli/e2e.sh ${group}
        $<TARGET_FILE:jobresults> $<TARGET_FILE:cijobresults>
        ${CMAKE_CURRENT_BINARY_DIR}/cli-e2e/${group})
    set_tests_properties(cli.e2e.${group} PROPERTIES TIMEOUT 120)
  endforeach()
  # metrics through promtool and node_exporter, and its --state on damaged
  # files; follow killed and restarted, and its --exec sink failing.
  foreach(script metrics_exporter metrics_damage follow_restart follow_exec)
    add_test(NAME cli.${script}
      COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/cli/${script}.py
        $<TARGET_FILE:jobresults> ${CMAKE_CURRENT_BINARY_DIR}/cli-e2e/${script})
    set_tests_properties(cli.${script} PROPERTIES TIMEOUT 120)
  endforeach()
  add_test(NAME cli.metrics_run
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/cli/metrics_run.sh
      ${PROJECT_SOURCE_DIR}/tools/systemd/metrics-run $<TARGET_FILE:jobresults>
      ${CMAKE_CURRENT_BINARY_DIR}/cli-e2e/metrics_run)
endif()

# report in headless chromium through selenium; skipped (with the reason)
# where chromium cannot start. The screenshot stays in cli-e2e/report.
if(TARGET jobresults AND DEFINED Python3_EXECUTABLE)
  add_test(NAME cli.report_browser
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -rs -p no:cacheprovider
      ${CMAKE_CURRENT_LIST_DIR}/cli/report_browser.py)
  set_tests_properties(cli.report_browser PROPERTIES
    ENVIRONMENT "CIJOBRESULTS_TOOL=$<TARGET_FILE:jobresults>;REPORT_WORKDIR=${CMAKE_CURRENT_BINARY_DIR}/cli-e2e/report"
    SKIP_REGULAR_EXPRESSION "SKIPPED \\["
    TIMEOUT 180)
endif()
