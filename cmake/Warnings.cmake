# Warnings every target of the project compiles with.
add_library(cijobresults_warnings INTERFACE)
# -Wshadow and the conversion warnings catch a name or a width that silently
# changes meaning; every compiler the project supports builds clean with them.
target_compile_options(cijobresults_warnings INTERFACE -Wall -Wextra -Wpedantic
  -Wshadow -Wconversion -Wsign-conversion)
# XmlNode and XmlParsedNode have virtual functions but, by binary contract,
# no virtual destructor; they are always destroyed as their own type, which
# is what clang warns about whenever a vector of them is destroyed.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(cijobresults_warnings INTERFACE -Wno-delete-non-abstract-non-virtual-dtor)
endif()
option(CIJOBRESULTS_WERROR "Treat warnings as errors" OFF)
if(CIJOBRESULTS_WERROR)
  target_compile_options(cijobresults_warnings INTERFACE -Werror)
endif()
