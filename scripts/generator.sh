# Sourced by the scripts that configure a build directory. A new build
# directory gets Ninja when it is installed; an existing one keeps the
# generator it was configured with (CMake refuses to change it), so any
# generator works.
#   cmake_generator_args DIR   sets the array "generator" to -G Ninja or ()
cmake_generator_args() {
  generator=()
  if [ ! -f "$1/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
}
