#!/usr/bin/env bash
# Line coverage of the library (control/ and platform/) by the test suite:
# builds with --coverage in BUILD_DIR (default build-coverage), runs the tests
# and prints gcovr's summary and the lines no test executes. Counters are
# updated atomically: threads of a test (servers, waits) would otherwise race
# on them and leave counts gcovr cannot read.
# Usage: tools/coverage.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-coverage}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DVIZADAVU_BUILD_QT=OFF -DVIZADAVU_BUILD_FUZZERS=OFF \
  -DVIZADAVU_BUILD_BENCHMARKS=OFF -DVIZADAVU_INSTALL=OFF
cmake --build "$build" --target vizadavu_unit_tests vizadavu_socket_tests vizadavu_program vizadavu_echo_server
find "$build" -name '*.gcda' -delete
# The consumer projects build their own copies of the library.
ctest --test-dir "$build" -E '^consumer_' --output-on-failure -j "$(nproc)" ||
  echo "coverage.sh: some tests failed; the figures below are of the tests that ran" >&2

gcovr --root . --object-directory "$build" --filter 'control/' --filter 'platform/' \
  --txt "$build/coverage.txt" --print-summary
cat "$build/coverage.txt"
