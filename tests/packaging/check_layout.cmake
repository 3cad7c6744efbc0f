# Checks the installed tree: exactly the expected files, the SONAME links,
# the headers as in the sources, a version file that accepts the same major
# version only, a relocatable pkg-config file and a tool that finds the
# library of its own prefix. The headers expected are those of
# cmake/public-headers.txt in SOURCE_DIR.
#   cmake -DPREFIX=... -DSOURCE_DIR=... -DLIBDIR=... -DINCLUDEDIR=... -DBINDIR=... -DLIBEXECDIR=...
#         -DDATADIR=... -DMANDIR=... -DDOCDIR=... -DVERSION=1.0.0 -DSOVERSION=1
#         -DHAVE_TOOL=ON|OFF [-DPYTHON=... -DPYTHON_DIR=... -DPYTHON_MODULE=...]
#         -P check_layout.cmake
# With PYTHON (the interpreter the module is built for), the Python package
# is expected in PYTHON_DIR, its compiled part named PYTHON_MODULE, and it
# must import from there and find the library of its own prefix.
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
require_vars(PREFIX SOURCE_DIR LIBDIR INCLUDEDIR BINDIR LIBEXECDIR DATADIR MANDIR DOCDIR VERSION SOVERSION
  HAVE_TOOL)

set(errors)
macro(fail message)
  list(APPEND errors "${message}")
endmacro()

set(lib ${LIBDIR}/libcijobresults.so)
set(cmakedir ${LIBDIR}/cmake/cijobresults)
include(${SOURCE_DIR}/cmake/PublicHeaders.cmake)
cijobresults_public_headers(public_headers ${SOURCE_DIR})
list(TRANSFORM public_headers PREPEND ${INCLUDEDIR}/cijobresults/ OUTPUT_VARIABLE headers)
set(expected
  ${lib} ${lib}.${SOVERSION} ${lib}.${VERSION} ${headers}
  ${cmakedir}/cijobresultsConfig.cmake
  ${cmakedir}/cijobresultsConfigVersion.cmake
  ${cmakedir}/cijobresultsTargets.cmake
  ${LIBDIR}/pkgconfig/cijobresults.pc
  ${DOCDIR}/LICENSE)
if(HAVE_TOOL)
  list(APPEND expected ${BINDIR}/jobresults ${MANDIR}/man1/jobresults.1
    ${DATADIR}/bash-completion/completions/jobresults ${DATADIR}/jobresults/jobresults-alerts.yml
    ${LIBEXECDIR}/jobresults/metrics-run ${DATADIR}/jobresults/stores/clickhouse.sql
    ${DATADIR}/jobresults/stores/postgresql.sql ${DATADIR}/jobresults/stores/postgresql-batch.sql)
endif()

if(PYTHON)
  foreach(file __init__.py __init__.pyi py.typed ${PYTHON_MODULE})
    list(APPEND expected ${PYTHON_DIR}/cijobresults/${file})
  endforeach()
endif()

# --- the file list -------------------------------------------------------
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
foreach(file IN LISTS installed)
  # One per configuration: cijobresultsTargets-release.cmake, ...
  if(file MATCHES "^${cmakedir}/cijobresultsTargets-[a-z]+\\.cmake$")
    set(have_config_targets ON)
  elseif(NOT file IN_LIST expected)
    fail("unexpected file installed: ${file}")
  endif()
endforeach()
foreach(file IN LISTS expected)
  if(NOT EXISTS ${PREFIX}/${file} AND NOT IS_SYMLINK ${PREFIX}/${file})
    fail("missing: ${file}")
  endif()
endforeach()
if(NOT have_config_targets)
  fail("missing: ${cmakedir}/cijobresultsTargets-<config>.cmake")
endif()

# --- SONAME links: .so -> .so.1 -> .so.1.0.0 ----------------------------------
set(links ${lib} ${lib}.${SOVERSION})
set(targets libcijobresults.so.${SOVERSION} libcijobresults.so.${VERSION})
foreach(link target IN ZIP_LISTS links targets)
  if(NOT IS_SYMLINK ${PREFIX}/${link})
    fail("${link} is not a symbolic link")
  else()
    file(READ_SYMLINK ${PREFIX}/${link} points_to)
    if(NOT points_to STREQUAL target)
      fail("${link} points to ${points_to}, expected ${target}")
    endif()
  endif()
endforeach()
if(IS_SYMLINK ${PREFIX}/${lib}.${VERSION})
  fail("${lib}.${VERSION} must be the library itself, not a link")
endif()

# --- headers as in the sources --------------------------------------------------
foreach(header IN LISTS headers)
  string(REGEX REPLACE "^${INCLUDEDIR}/cijobresults/" "" relative ${header})
  if(EXISTS ${PREFIX}/${header})
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
      ${SOURCE_DIR}/${relative} ${PREFIX}/${header} RESULT_VARIABLE differs)
    if(differs)
      fail("${header} differs from ${relative} in the sources")
    endif()
  endif()
endforeach()

# --- version file: same major version, not older than requested ---------------
string(REGEX MATCH "^[0-9]+" major ${VERSION})
math(EXPR next_major "${major} + 1")
math(EXPR previous_major "${major} - 1")
set(requests ${major} ${VERSION} ${major}.0 ${next_major}.0 ${previous_major}.0 ${VERSION}.1)
set(accepts TRUE TRUE TRUE FALSE FALSE FALSE)
foreach(request accepted IN ZIP_LISTS requests accepts)
  set(PACKAGE_FIND_VERSION ${request})
  string(REPLACE "." ";" parts ${request})
  list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
  unset(PACKAGE_VERSION_COMPATIBLE)
  unset(PACKAGE_VERSION_UNSUITABLE)
  include(${PREFIX}/${cmakedir}/cijobresultsConfigVersion.cmake OPTIONAL)
  if(NOT PACKAGE_VERSION STREQUAL VERSION)
    fail("the version file reports ${PACKAGE_VERSION}, expected ${VERSION}")
    break()
  endif()
  if(PACKAGE_VERSION_UNSUITABLE)
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
  endif()
  if((PACKAGE_VERSION_COMPATIBLE AND NOT accepted) OR (NOT PACKAGE_VERSION_COMPATIBLE AND accepted))
    fail("a request for version ${request} gives compatible=${PACKAGE_VERSION_COMPATIBLE}")
  endif()
endforeach()

# --- pkg-config file ---------------------------------------------------------------
if(EXISTS ${PREFIX}/${LIBDIR}/pkgconfig/cijobresults.pc)
  file(READ ${PREFIX}/${LIBDIR}/pkgconfig/cijobresults.pc pc)
  # The prefix is found from the file's own place: the tree may be moved.
  file(RELATIVE_PATH pc_to_prefix ${PREFIX}/${LIBDIR}/pkgconfig ${PREFIX})
  string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
  foreach(line "prefix=\${pcfiledir}/${pc_to_prefix}" "Version: ${VERSION}" "Cflags: -I\${includedir}"
               "Libs: -L\${libdir} -lcijobresults")
    string(FIND "${pc}" "${line}\n" at)
    if(at EQUAL -1)
      fail("cijobresults.pc lacks the line \"${line}\"")
    endif()
  endforeach()
endif()

# --- the tool finds the library of its own prefix ------------------------------
if(HAVE_TOOL AND EXISTS ${PREFIX}/${BINDIR}/jobresults)
  execute_process(COMMAND ldd ${PREFIX}/${BINDIR}/jobresults
    OUTPUT_VARIABLE ldd RESULT_VARIABLE status)
  get_filename_component(own_libdir ${PREFIX}/${LIBDIR} REALPATH)
  if(ldd MATCHES "libcijobresults\\.so\\.${SOVERSION} => ([^ \n]+)")
    get_filename_component(loaded_from ${CMAKE_MATCH_1} DIRECTORY)
    get_filename_component(loaded_from ${loaded_from} REALPATH)
  endif()
  if(NOT loaded_from STREQUAL own_libdir)
    fail("bin/jobresults does not load the library of its prefix:\n${ldd}")
  endif()
endif()

# --- the Python module imports and writes with the library of its prefix ---------
if(PYTHON AND EXISTS ${PREFIX}/${PYTHON_DIR}/cijobresults/${PYTHON_MODULE})
  get_filename_component(own_library ${PREFIX}/${LIBDIR}/libcijobresults.so.${SOVERSION} REALPATH)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH PYTHONPATH=${PREFIX}/${PYTHON_DIR}
      ${PYTHON} -c "import cijobresults, os, tempfile
with tempfile.TemporaryDirectory() as scratch:
    with cijobresults.Writer(scratch + '/r') as writer:
        writer.add('alpha', '/jobs/1', '1')
    assert [r.client_name for r in cijobresults.read(writer.path)] == ['alpha']
maps = open('/proc/self/maps').read()
print(os.path.realpath([l.split()[-1] for l in maps.splitlines() if 'libcijobresults.so' in l][0]))"
    OUTPUT_VARIABLE loaded OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_VARIABLE python_error RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT loaded STREQUAL own_library)
    fail("the installed Python module does not work with the library of its prefix "
      "(loaded: ${loaded}):\n${python_error}")
  endif()
endif()

if(errors)
  list(JOIN errors "\n  " shown)
  message(FATAL_ERROR "installed tree under ${PREFIX} is wrong:\n  ${shown}")
endif()
list(LENGTH installed count)
message(STATUS "${count} files installed as expected under ${PREFIX}")
