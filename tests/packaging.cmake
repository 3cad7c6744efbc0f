# Packaging tests: install the build tree into a prefix of its own, check
# the installed layout, build the example consumer against it with
# find_package and with pkg-config; build the Debian packages; keep the
# tool's manual page and bash completion in step with it.
set(CIJOBRESULTS_PACKAGING_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/packaging)
set(CIJOBRESULTS_PACKAGING_WORK ${PROJECT_BINARY_DIR}/packaging-test)
set(CIJOBRESULTS_CONSUMER_PREFIX ${CIJOBRESULTS_PACKAGING_WORK}/consumer-prefix)
set(CIJOBRESULTS_CONSUMER_SOURCE ${PROJECT_SOURCE_DIR}/examples/consumer)
if(TARGET jobresults)
  set(CIJOBRESULTS_HAVE_TOOL ON)
else()
  set(CIJOBRESULTS_HAVE_TOOL OFF)
endif()
set(CIJOBRESULTS_PYTHON_LAYOUT_ARGS)
if(TARGET cijobresults_python)
  set(CIJOBRESULTS_PYTHON_LAYOUT_ARGS -DPYTHON=${Python3_EXECUTABLE}
    -DPYTHON_DIR=${CIJOBRESULTS_PYTHON_INSTALL_DIR}
    -DPYTHON_MODULE=$<TARGET_FILE_NAME:cijobresults_python>)
endif()
# The consumer compiles warning-free with the project's warnings, as errors.
# The classes have virtual functions but by binary contract no virtual
# destructor, which clang reports wherever a vector of them is destroyed.
set(CIJOBRESULTS_CONSUMER_WARNINGS "-Wall -Wextra -Wpedantic -Werror")
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  string(APPEND CIJOBRESULTS_CONSUMER_WARNINGS " -Wno-delete-non-abstract-non-virtual-dtor")
endif()
# Consumers of a sanitized library are built with the same sanitizers, so
# that the sanitizer runtime is loaded first.
list(JOIN CIJOBRESULTS_SANITIZE_FLAGS " " _cijobresults_consumer_sanitize)
string(APPEND CIJOBRESULTS_CONSUMER_WARNINGS " ${_cijobresults_consumer_sanitize}")
find_program(CIJOBRESULTS_PKG_CONFIG NAMES pkg-config pkgconf)
if(NOT CIJOBRESULTS_PKG_CONFIG)
  message(WARNING "pkg-config not found: test consumer_pkg_config will fail (run scripts/deps.sh)")
endif()

# The one list of public headers names each public header of the tree.
# Quick, so it runs in the loop outside the packaging label.
add_test(NAME public_headers_listed
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/check_public_headers.cmake)
set_tests_properties(public_headers_listed PROPERTIES TIMEOUT 60)

add_test(NAME packaging_install
  COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR}
    -DPREFIX=${CIJOBRESULTS_CONSUMER_PREFIX}
    -DCONFIG=$<CONFIG>
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/install_prefix.cmake)
set_tests_properties(packaging_install PROPERTIES
  FIXTURES_SETUP cijobresults_installed)

add_test(NAME packaging_layout
  COMMAND ${CMAKE_COMMAND}
    -DPREFIX=${CIJOBRESULTS_CONSUMER_PREFIX}
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
    -DBINDIR=${CMAKE_INSTALL_BINDIR}
    -DLIBEXECDIR=${CMAKE_INSTALL_LIBEXECDIR}
    -DDATADIR=${CMAKE_INSTALL_DATADIR}
    -DMANDIR=${CMAKE_INSTALL_MANDIR}
    -DDOCDIR=${CMAKE_INSTALL_DOCDIR}
    -DVERSION=${PROJECT_VERSION}
    -DSOVERSION=${PROJECT_VERSION_MAJOR}
    -DHAVE_TOOL=${CIJOBRESULTS_HAVE_TOOL}
    ${CIJOBRESULTS_PYTHON_LAYOUT_ARGS}
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/check_layout.cmake)

add_test(NAME consumer_find_package
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${CIJOBRESULTS_CONSUMER_SOURCE}
    -DBINARY_DIR=${CIJOBRESULTS_PACKAGING_WORK}/consumer-cmake
    -DPREFIX=${CIJOBRESULTS_CONSUMER_PREFIX}
    -DGENERATOR=${CMAKE_GENERATOR}
    -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
    "-DCXX_FLAGS=${CMAKE_CXX_FLAGS} ${CIJOBRESULTS_CONSUMER_WARNINGS}"
    -DBUILD_TYPE=$<CONFIG>
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/consumer_cmake.cmake)

add_test(NAME consumer_pkg_config
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${CIJOBRESULTS_CONSUMER_SOURCE}
    -DBINARY_DIR=${CIJOBRESULTS_PACKAGING_WORK}/consumer-pkgconfig
    -DPREFIX=${CIJOBRESULTS_CONSUMER_PREFIX}
    -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DVERSION=${PROJECT_VERSION}
    -DPKG_CONFIG=${CIJOBRESULTS_PKG_CONFIG}
    -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
    "-DCXX_FLAGS=${CMAKE_CXX_FLAGS} ${CIJOBRESULTS_CONSUMER_WARNINGS}"
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/consumer_pkgconfig.cmake)

set(CIJOBRESULTS_PACKAGING_TESTS packaging_layout consumer_find_package consumer_pkg_config)
# The tool is the library's first client: it builds from the installed,
# public headers alone.
if(CIJOBRESULTS_HAVE_TOOL)
  add_test(NAME tool_outside_build
    COMMAND ${CMAKE_COMMAND}
      -DTOOL_DIR=${PROJECT_SOURCE_DIR}/tools
      -DBINARY_DIR=${CIJOBRESULTS_PACKAGING_WORK}/tool-outside
      -DPREFIX=${CIJOBRESULTS_CONSUMER_PREFIX}
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
      "-DCXX_FLAGS=${CMAKE_CXX_FLAGS} ${CIJOBRESULTS_CONSUMER_WARNINGS}"
      -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/tool_outside.cmake)
  list(APPEND CIJOBRESULTS_PACKAGING_TESTS tool_outside_build)
endif()

set_tests_properties(${CIJOBRESULTS_PACKAGING_TESTS}
  PROPERTIES FIXTURES_REQUIRED cijobresults_installed)

set_tests_properties(packaging_install ${CIJOBRESULTS_PACKAGING_TESTS}
  PROPERTIES LABELS packaging TIMEOUT 300)

add_test(NAME packaging_runpath
  COMMAND ${CMAKE_COMMAND} -DDIR=${PROJECT_BINARY_DIR}
    -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/check_runpath.cmake)
set_tests_properties(packaging_runpath PROPERTIES LABELS packaging TIMEOUT 60)

# A consumer that builds the source tree inside its own build gets the
# library alone. A sanitizer build would only build the same again.
if(NOT CIJOBRESULTS_SANITIZE)
  add_test(NAME consumer_subdirectory
    COMMAND ${CMAKE_COMMAND}
      -DSOURCE_DIR=${CIJOBRESULTS_CONSUMER_SOURCE}
      -DPROJECT_DIR=${PROJECT_SOURCE_DIR}
      -DBINARY_DIR=${CIJOBRESULTS_PACKAGING_WORK}/consumer-subdirectory
      -DGENERATOR=${CMAKE_GENERATOR}
      -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
      "-DCXX_FLAGS=${CMAKE_CXX_FLAGS} ${CIJOBRESULTS_CONSUMER_WARNINGS}"
      -P ${CIJOBRESULTS_PACKAGING_SCRIPTS}/consumer_subdirectory.cmake)
  set_tests_properties(consumer_subdirectory PROPERTIES LABELS packaging TIMEOUT 600)
endif()

# The Debian packages, built by dpkg-buildpackage from a copy of the sources
# (whatever this build's configuration) and checked with lintian. A
# sanitizer build would only build the same packages again.
if(NOT CIJOBRESULTS_SANITIZE)
  add_test(NAME packaging_deb
    COMMAND bash ${CIJOBRESULTS_PACKAGING_SCRIPTS}/build_deb.sh ${PROJECT_SOURCE_DIR}
      ${CIJOBRESULTS_PACKAGING_WORK}/deb ${PROJECT_VERSION} ${PROJECT_VERSION_MAJOR})
  set_tests_properties(packaging_deb PROPERTIES LABELS packaging TIMEOUT 900)
endif()

# The tool's manual page keeps in step with its --help, and its bash
# completion completes what is typed.
if(CIJOBRESULTS_HAVE_TOOL)
  add_test(NAME manual_page
    COMMAND bash ${CIJOBRESULTS_PACKAGING_SCRIPTS}/check_manual.sh
      $<TARGET_FILE:jobresults> $<TARGET_PROPERTY:jobresults_doc,MANUAL_PAGE>)
  add_test(NAME bash_completion
    COMMAND bash ${CIJOBRESULTS_PACKAGING_SCRIPTS}/check_completion.sh
      $<TARGET_FILE:jobresults> $<TARGET_PROPERTY:jobresults_doc,BASH_COMPLETION>)
  set_tests_properties(manual_page bash_completion PROPERTIES LABELS packaging TIMEOUT 60)
endif()
