# The Python module (python/): built when Debian's python3-dev and
# pybind11-dev are there, unless -DCIJOBRESULTS_PYTHON=OFF.
#
# The module is built for one interpreter and only loads into that one:
# /usr/bin/python3 when it exists (the interpreter python3-dev and
# pybind11-dev belong to, whatever python3 comes first on PATH), otherwise
# the one FindPython3 picks; -DPython3_EXECUTABLE=... chooses another. The
# tests run with the same interpreter.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH
    "The Python interpreter the module is built for and tested with")
endif()
find_package(Python3 COMPONENTS Interpreter Development.Module QUIET)
if(Python3_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()

# A sanitized library cannot be loaded into an interpreter that is not.
if(Python3_FOUND AND pybind11_FOUND AND NOT CIJOBRESULTS_SANITIZE AND CIJOBRESULTS_TOP_LEVEL)
  set(_cijobresults_python_default ON)
else()
  set(_cijobresults_python_default OFF)
endif()
option(CIJOBRESULTS_PYTHON "Build the Python module cijobresults (python3-dev, pybind11-dev)"
  ${_cijobresults_python_default})

if(CIJOBRESULTS_PYTHON)
  if(NOT Python3_FOUND OR NOT pybind11_FOUND)
    message(FATAL_ERROR "CIJOBRESULTS_PYTHON needs python3-dev and pybind11-dev "
      "(run scripts/deps.sh); found Python3: ${Python3_FOUND}, pybind11: ${pybind11_FOUND}")
  endif()
  add_subdirectory(python)
endif()
