#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# optimised (folder build), and with AddressSanitizer +
# UndefinedBehaviorSanitizer (folder build-asan).  Warnings are errors in
# both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DWERROR=ON -DSANITIZE=OFF -DBUILD_TESTS=ON -DBUILD_BENCHMARKS=ON
ctest --test-dir build --output-on-failure --no-tests=error -j "$(nproc)"

scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWERROR=ON -DSANITIZE=ON -DBUILD_TESTS=ON -DBUILD_BENCHMARKS=OFF
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$(nproc)"
