#!/usr/bin/env bash
# The README's first command: builds the library and the jobresults tool
# (scripts/test.sh builds the rest), then shows the tool on the bundled
# sample. It writes the sample's records into a new job
# results file in a fresh ./demo directory, lists the files there and dumps
# the new one as a table. Every command is printed before it runs.
# BUILD_DIR chooses another build directory (default: build); an existing
# one keeps its generator.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/generator.sh

bold='' plain=''
if [ -t 1 ]; then bold=$'\033[1m' plain=$'\033[0m'; fi
# Prints a command so that it can be pasted back into a shell: arguments
# with characters a shell would read (such as the backslash in a job
# results path) go in single quotes.
step() {
  local words=() word
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then words+=("$word"); else words+=("'$word'"); fi
  done
  printf '\n%s$ %s%s\n' "$bold" "${words[*]}" "$plain"
}
run() { step "$@"; "$@"; }

./scripts/deps.sh --main
build=${BUILD_DIR:-build}
cmake_generator_args "$build"
# A new build directory leaves the tests out, as their packages may be
# missing; scripts/test.sh turns them on.
tests=()
[ -f "$build/CMakeCache.txt" ] || tests=(-DCIJOBRESULTS_BUILD_TESTS=OFF)
run cmake -S . -B "$build" "${generator[@]}" "${tests[@]}"
run cmake --build "$build" --target jobresults --parallel "$(nproc)"

tool=$build/tools/jobresults
run rm -rf demo
run mkdir demo

# The directory name demo/results puts the files into demo/, named
# 'results\ci_push_<seconds>.xml'.
step "$tool" write demo/results examples/sample-results.tsv
file=$("$tool" write demo/results examples/sample-results.tsv)
echo "$file"

run "$tool" list demo/results
run "$tool" dump "$file"
