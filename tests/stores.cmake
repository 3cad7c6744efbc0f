# follow --exec into the central stores through the shipped recipes, each
# against its real server, started on 127.0.0.1 by the test and stopped by
# it, with kills of writers, follow, the sink command and the server.
if(TARGET jobresults)
  foreach(store clickhouse postgresql)
    add_test(NAME stores.${store}
      COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/stores/store_pipeline.py ${store}
        $<TARGET_FILE:jobresults> ${PROJECT_SOURCE_DIR}/tools/stores
        ${CMAKE_CURRENT_BINARY_DIR}/stores/${store})
    set_tests_properties(stores.${store} PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  endforeach()
endif()
