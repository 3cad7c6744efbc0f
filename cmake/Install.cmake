# Install rules, the CMake package and the pkg-config file (the Debian
# packages come from debian/). Included at the end of the root
# CMakeLists.txt, after the tool directory, so that every target to install
# exists.
#
# Layout under the prefix:
#   lib/libcijobresults.so.1.0.0, .so.1 (runtime) and .so (development)
#   include/cijobresults/{xml,jobresults}/*.h   consumers keep writing
#                                               #include "xml/XmlNode.h"
#   lib/cmake/cijobresults/                     find_package(cijobresults)
#   lib/pkgconfig/cijobresults.pc               pkg-config cijobresults
#   bin/jobresults                              the command-line tool
#   share/man/man1/jobresults.1                 its manual page
#   share/bash-completion/completions/jobresults  its bash completion
#   share/doc/cijobresults/LICENSE              the licence
#
# Components: "runtime" (the shared library), "development" (headers,
# the unversioned link, CMake and pkg-config files) and "tools".

include(CMakePackageConfigHelpers)

set(CIJOBRESULTS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/cijobresults)
set(CIJOBRESULTS_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(CIJOBRESULTS_INSTALL_HEADERDIR ${CMAKE_INSTALL_INCLUDEDIR}/cijobresults)

install(TARGETS cijobresults
  EXPORT cijobresultsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime
    NAMELINK_COMPONENT development)
# Each header of cmake/public-headers.txt at its path under the source
# tree: xml/XmlNode.h goes to include/cijobresults/xml/XmlNode.h.
include(${CMAKE_CURRENT_LIST_DIR}/PublicHeaders.cmake)
cijobresults_public_headers(_cijobresults_headers ${PROJECT_SOURCE_DIR})
foreach(header IN LISTS _cijobresults_headers)
  get_filename_component(header_dir ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header}
    DESTINATION ${CIJOBRESULTS_INSTALL_HEADERDIR}/${header_dir}
    COMPONENT development)
endforeach()

# The tool is not part of the exported targets: the CMake package must stay
# usable when only the library packages are installed.
if(TARGET jobresults)
  # Found from any prefix: bin/ and lib/ sit side by side.
  file(RELATIVE_PATH _cijobresults_bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  cijobresults_install_twin(jobresults "$ORIGIN/${_cijobresults_bin_to_lib}"
    DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT tools)
  # The manual page and the bash completion, where man and bash-completion
  # look for them.
  install(FILES $<TARGET_PROPERTY:jobresults_doc,MANUAL_PAGE>
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT tools)
  install(FILES $<TARGET_PROPERTY:jobresults_doc,BASH_COMPLETION>
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME jobresults
    COMPONENT tools)
  # What jobresults-metrics.service runs: metrics for each directory name
  # of its settings file.
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/systemd/metrics-run
    DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/jobresults
    COMPONENT tools)
  # The central stores' tables and the commands that load follow's batches.
  install(FILES ${PROJECT_SOURCE_DIR}/tools/stores/clickhouse.sql
    ${PROJECT_SOURCE_DIR}/tools/stores/postgresql.sql
    ${PROJECT_SOURCE_DIR}/tools/stores/postgresql-batch.sql
    DESTINATION ${CMAKE_INSTALL_DATADIR}/jobresults/stores
    COMPONENT tools)
  # Prometheus alert rules for the metrics command's output.
  install(FILES ${PROJECT_SOURCE_DIR}/tools/alerts/jobresults-alerts.yml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/jobresults
    COMPONENT tools)
endif()
# The licence travels with the library; the Debian packages carry it in
# their copyright file instead (debian/not-installed).
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT runtime)

# --- CMake package -----------------------------------------------------------
install(EXPORT cijobresultsTargets
  NAMESPACE cijobresults::
  DESTINATION ${CIJOBRESULTS_INSTALL_CMAKEDIR}
  COMPONENT development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/cijobresultsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/cijobresultsConfig.cmake
  INSTALL_DESTINATION ${CIJOBRESULTS_INSTALL_CMAKEDIR})
# A new major version is a new SONAME: it does not satisfy older requests.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/packaging/cijobresultsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/packaging/cijobresultsConfig.cmake
  ${PROJECT_BINARY_DIR}/packaging/cijobresultsConfigVersion.cmake
  DESTINATION ${CIJOBRESULTS_INSTALL_CMAKEDIR}
  COMPONENT development)

# --- pkg-config ----------------------------------------------------------------
# Relocatable: the prefix is derived from the directory the file is found in
# (${pcfiledir}), so the file is written at configure time and serves every
# install prefix (cmake --install --prefix, DESTDIR, the packages). Absolute
# library or include directories are taken as they are.
set(CIJOBRESULTS_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(CIJOBRESULTS_PC_INCLUDEDIR "\${prefix}/${CIJOBRESULTS_INSTALL_HEADERDIR}")
if(IS_ABSOLUTE "${CIJOBRESULTS_INSTALL_PKGCONFIGDIR}")
  set(CIJOBRESULTS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(CIJOBRESULTS_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  # "lib/pkgconfig" -> "../..", "lib/x86_64-linux-gnu/pkgconfig" -> "../../..".
  file(RELATIVE_PATH _cijobresults_pc_to_prefix /${CIJOBRESULTS_INSTALL_PKGCONFIGDIR} /)
  string(REGEX REPLACE "/$" "" _cijobresults_pc_to_prefix "${_cijobresults_pc_to_prefix}")
  set(CIJOBRESULTS_PC_PREFIX "\${pcfiledir}/${_cijobresults_pc_to_prefix}")
endif()
if(IS_ABSOLUTE "${CIJOBRESULTS_INSTALL_HEADERDIR}")
  set(CIJOBRESULTS_PC_INCLUDEDIR "${CIJOBRESULTS_INSTALL_HEADERDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/cijobresults.pc.in
  ${PROJECT_BINARY_DIR}/packaging/cijobresults.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/cijobresults.pc
  DESTINATION ${CIJOBRESULTS_INSTALL_PKGCONFIGDIR}
  COMPONENT development)
