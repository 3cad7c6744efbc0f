# Warnings every target of the project compiles with.
add_library(cijobresults_warnings INTERFACE)
target_compile_options(cijobresults_warnings INTERFACE -Wall -Wextra -Wpedantic)
option(CIJOBRESULTS_WERROR "Treat warnings as errors" OFF)
if(CIJOBRESULTS_WERROR)
  target_compile_options(cijobresults_warnings INTERFACE -Werror)
endif()
