# The shipped alert rules: promtool's unit tests of each alert, and the
# rules in a real Prometheus that scrapes node_exporter fed by the tool.
add_test(NAME alerts.rules
  COMMAND promtool test rules ${CMAKE_CURRENT_LIST_DIR}/alerts/jobresults-alerts.test.yml)
if(TARGET jobresults)
  add_test(NAME alerts.prometheus
    COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/alerts/prometheus_alerts.py $<TARGET_FILE:jobresults>
      ${PROJECT_SOURCE_DIR}/tools/alerts/jobresults-alerts.yml
      ${CMAKE_CURRENT_BINARY_DIR}/alerts-prometheus)
  set_tests_properties(alerts.prometheus PROPERTIES TIMEOUT 180)
endif()
