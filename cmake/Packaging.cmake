# Debian packages built by "cpack -G DEB" in the build directory, one per
# install component:
#   libcijobresults1     the shared library (.so.1.0.0 and the .so.1 link)
#   libcijobresults-dev  headers, the .so link, CMake and pkg-config files
#   jobresults           the command-line tool (when it is built)
# Dependencies on the C and C++ runtimes come from dpkg-shlibdeps; the
# packages among themselves depend on the exact same version.

set(CPACK_PACKAGE_NAME cijobresults)
set(CPACK_PACKAGE_VENDOR "cijobresults developers")
set(CPACK_PACKAGE_CONTACT "cijobresults developers <cijobresults@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Backup job results store and XML node toolkit")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool links the library of this very build, which no installed package
# provides yet: let dpkg-shlibdeps find it here; the component dependency
# below names the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# A shlibs file lets packages built against this one depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcijobresults${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcijobresults-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME jobresults)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)

set(CPACK_COMPONENTS_ALL runtime development)
if(TARGET jobresults)
  list(APPEND CPACK_COMPONENTS_ALL tools)
endif()

include(CPack)

cpack_add_component(runtime
  DISPLAY_NAME "Shared library"
  DESCRIPTION "The job results store and XML node toolkit as a shared library.")
cpack_add_component(development
  DISPLAY_NAME "Development files"
  DESCRIPTION "Headers, CMake package and pkg-config file of the library."
  DEPENDS runtime)
cpack_add_component(tools
  DISPLAY_NAME "Command-line tool"
  DESCRIPTION "The jobresults command-line tool."
  DEPENDS runtime)
