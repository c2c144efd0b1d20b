#!/usr/bin/env bash
# Installs, builds and runs every test twice: in a normal build, and under AddressSanitizer
# with UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/test -j"$jobs"
ctest --test-dir build/test --output-on-failure -j"$jobs"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DLEAFSIFT_SANITIZE=ON -DLEAFSIFT_BENCH=OFF
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j"$jobs"
scripts/leak-check.sh build/asan
