# ABI guard: the dynamic symbols that the library exports must be exactly
# the committed list abi/symbols.txt, and belong to the exported classes.
# After an intended interface change:
#   cmake --build <build dir> --target abi_update
set(CIJOBRESULTS_ABI_LIST ${PROJECT_SOURCE_DIR}/abi/symbols.txt)
set(CIJOBRESULTS_ABI_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/packaging/abi.sh)
if(CMAKE_NM)
  set(CIJOBRESULTS_NM ${CMAKE_NM})
else()
  find_program(CIJOBRESULTS_NM NAMES nm llvm-nm REQUIRED)
endif()

add_test(NAME abi_exported_symbols
  COMMAND bash ${CIJOBRESULTS_ABI_SCRIPT} check ${CIJOBRESULTS_NM}
    $<TARGET_FILE:cijobresults> ${CIJOBRESULTS_ABI_LIST})

# The SONAME is the other half of the contract: callers record it at link
# time and the packages are named after it.
add_test(NAME abi_soname
  COMMAND ${CMAKE_COMMAND}
    -DLIBRARY=$<TARGET_FILE:cijobresults>
    -DEXPECTED=libcijobresults.so.${PROJECT_VERSION_MAJOR}
    -P ${CMAKE_CURRENT_LIST_DIR}/packaging/check_soname.cmake)

add_custom_target(abi_update
  COMMAND bash ${CIJOBRESULTS_ABI_SCRIPT} update ${CIJOBRESULTS_NM}
    $<TARGET_FILE:cijobresults> ${CIJOBRESULTS_ABI_LIST}
  DEPENDS cijobresults
  COMMENT "Rewriting abi/symbols.txt from the built library"
  VERBATIM)
