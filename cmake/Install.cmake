# Install rules, the CMake package, the pkg-config file and the Debian
# packages. Included at the end of the root CMakeLists.txt, after the tool
# directory, so that every target to install exists.
#
# Layout under the prefix:
#   lib/libcijobresults.so.1.0.0, .so.1 (runtime) and .so (development)
#   include/cijobresults/{xml,jobresults}/*.h   consumers keep writing
#                                               #include "xml/XmlNode.h"
#   lib/cmake/cijobresults/                     find_package(cijobresults)
#   lib/pkgconfig/cijobresults.pc               pkg-config cijobresults
#   bin/jobresults                              the command-line tool
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
install(FILES ${PROJECT_SOURCE_DIR}/xml/XmlNode.h
  DESTINATION ${CIJOBRESULTS_INSTALL_HEADERDIR}/xml
  COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/jobresults/cijobresults.h
  ${PROJECT_SOURCE_DIR}/jobresults/JobResultsReader.h
  DESTINATION ${CIJOBRESULTS_INSTALL_HEADERDIR}/jobresults
  COMPONENT development)

# The tool is not part of the exported targets: the CMake package must stay
# usable when only the library packages are installed.
if(TARGET jobresults)
  # Found from any prefix: bin/ and lib/ sit side by side.
  file(RELATIVE_PATH _cijobresults_bin_to_lib
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(jobresults PROPERTIES
    INSTALL_RPATH "$ORIGIN/${_cijobresults_bin_to_lib}")
  install(TARGETS jobresults
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT tools)
endif()

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
# The prefix is only known at install time (cmake --install --prefix, or the
# packaging prefix of CPack), so the file is written then.
install(CODE "
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(CIJOBRESULTS_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CIJOBRESULTS_PC_INCLUDEDIR \"${CIJOBRESULTS_INSTALL_HEADERDIR}\")
  foreach(_dir CIJOBRESULTS_PC_LIBDIR CIJOBRESULTS_PC_INCLUDEDIR)
    if(NOT IS_ABSOLUTE \"\${\${_dir}}\")
      set(\${_dir} \"\\\${prefix}/\${\${_dir}}\")
    endif()
  endforeach()
  set(CIJOBRESULTS_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  # One staging file per destination: installs may run side by side.
  string(MD5 _stage \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
  set(_stage \"${PROJECT_BINARY_DIR}/packaging/install/\${_stage}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/cijobresults.pc.in\"
    \"\${_stage}/cijobresults.pc\" @ONLY)
  file(INSTALL \"\${_stage}/cijobresults.pc\"
    DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CIJOBRESULTS_INSTALL_PKGCONFIGDIR}\")
  " COMPONENT development)

include(${CMAKE_CURRENT_LIST_DIR}/Packaging.cmake)
