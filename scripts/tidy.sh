#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over the library (xml/, jobresults/) and the
# tool (tools/jrtool) as a configured build directory compiles them, and
# fails on any finding. A clang++ build directory suits best: clang-tidy
# parses with clang and would not know some of g++'s flags. The build's
# generated sources must exist, so build it first.
#   scripts/tidy.sh [BUILD_DIR]   (default build-clang; JOBS, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-clang}
if [ ! -f "$build_dir/compile_commands.json" ]; then
  echo "$build_dir/compile_commands.json missing: configure and build $build_dir first" >&2
  exit 1
fi
for program in clang-tidy run-clang-tidy; do
  command -v "$program" >/dev/null || { echo "$program missing (apt-get install clang-tidy)" >&2; exit 1; }
done
# The file arguments are patterns on the paths of compile_commands.json.
sources="^$(pwd)/(xml|jobresults|tools/jrtool)/"
run-clang-tidy -quiet -j "${JOBS:-2}" -p "$build_dir" "$sources"
