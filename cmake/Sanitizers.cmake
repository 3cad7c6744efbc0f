# Sanitizer builds: -DCIJOBRESULTS_SANITIZE="address;undefined" compiles and
# links every target of the project with those sanitizers. Every finding
# stops the program (no recovery), so that a test with one fails.
# CIJOBRESULTS_SANITIZE_FLAGS holds the flags for what the project builds
# outside its own targets (the packaging tests' consumer programs).
set(CIJOBRESULTS_SANITIZE_FLAGS)
if(CIJOBRESULTS_SANITIZE)
  list(JOIN CIJOBRESULTS_SANITIZE "," _cijobresults_sanitizers)
  set(CIJOBRESULTS_SANITIZE_FLAGS
    -fsanitize=${_cijobresults_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${CIJOBRESULTS_SANITIZE_FLAGS})
  add_link_options(-fsanitize=${_cijobresults_sanitizers})
endif()
