# The library carries a non-loaded ELF section "QxVersion" with one line:
# "<version> MM/DD/YY HH:MM:SS\n", and jobresults::VersionLine() returns
# the same line without the newline. string(TIMESTAMP) honours
# SOURCE_DATE_EPOCH, so builds with it set are reproducible.
string(TIMESTAMP CIJOBRESULTS_BUILD_DATE "%m/%d/%y" UTC)
string(TIMESTAMP CIJOBRESULTS_BUILD_TIME "%H:%M:%S" UTC)
set(CIJOBRESULTS_VERSION_LINE
  "${PROJECT_VERSION} ${CIJOBRESULTS_BUILD_DATE} ${CIJOBRESULTS_BUILD_TIME}")
set(CIJOBRESULTS_VERSION_SECTION_SOURCE
  ${PROJECT_BINARY_DIR}/generated/version_section.cpp)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version_section.cpp.in
  ${CIJOBRESULTS_VERSION_SECTION_SOURCE} @ONLY)
