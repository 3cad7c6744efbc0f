# The report page's style sheet stays a CSS file (jrtool/report.css); the
# tool carries its text in a generated header, jrtool/ReportStyle.h.
function(jrtool_report_style target)
  set(source ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/jrtool)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
  file(READ ${source}/report.css JRTOOL_REPORT_STYLE)
  configure_file(${source}/ReportStyle.h.in ${generated}/jrtool/ReportStyle.h @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source}/report.css)
  target_include_directories(${target} PRIVATE ${generated})
endfunction()
