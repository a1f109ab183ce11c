#!/usr/bin/env bash
# Builds a second tree with AddressSanitizer and UndefinedBehaviorSanitizer
# (unoptimised, debug line tables only, Qt's debug assertions on) and
# runs the whole test suite in it; any sanitizer report fails the test that
# caused it.
#
# Usage (from anywhere): bash tools/sanitize.sh [BUILD_DIR]   default: build-sanitize
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-sanitize}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O0" -DBUILD_TESTING=ON -DBUKUREA_SANITIZE=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure
