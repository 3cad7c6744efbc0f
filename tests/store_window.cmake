# The reader's sliding window is internal (hidden in the library), so its
# test compiles the reader's sources in, to drive them with tiny blocks.
if(TARGET test_store_window)
  target_sources(test_store_window PRIVATE
    ${PROJECT_SOURCE_DIR}/jobresults/detail/FileWindow.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/JobResultsFormat.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/JobResultsLayout.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/PlainRecord.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/RootCursor.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/RootCursorLookAhead.cpp
    ${PROJECT_SOURCE_DIR}/jobresults/detail/WrittenRecord.cpp)
endif()
