#!/usr/bin/env bash
# Builds the library and its tests, then runs every test through CTest.
#   scripts/test.sh [CMAKE ARGS...]   e.g. -DCIJOBRESULTS_WERROR=ON
# Arguments go to the configure step. BUILD_DIR chooses another build
# directory (default: build); an existing one keeps its generator.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/generator.sh
./scripts/deps.sh
build=${BUILD_DIR:-build}
cmake_generator_args "$build"
cmake -S . -B "$build" "${generator[@]}" -DCIJOBRESULTS_BUILD_TESTS=ON "$@"
cmake --build "$build" --parallel "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2
