# The Python module's tests (tests/python/, pytest), run with the
# interpreter the module is built for, on the package in the build tree;
# files() is compared with the jobresults tool's listing when it is built.
if(TARGET cijobresults_python)
  set(CIJOBRESULTS_PYTHON_TEST_ENV
    PYTHONPATH=${CIJOBRESULTS_PYTHON_BUILD_DIR} PYTHONDONTWRITEBYTECODE=1)
  if(TARGET jobresults)
    list(APPEND CIJOBRESULTS_PYTHON_TEST_ENV CIJOBRESULTS_TOOL=$<TARGET_FILE:jobresults>)
  endif()
  add_test(NAME python_module
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${CMAKE_CURRENT_LIST_DIR}/python)
  set_tests_properties(python_module PROPERTIES
    ENVIRONMENT "${CIJOBRESULTS_PYTHON_TEST_ENV}"
    LABELS python
    TIMEOUT 300)
endif()
