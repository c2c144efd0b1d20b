#!/usr/bin/env bash
# Installs, builds, and runs leafsift on the bundled sample: lists its blank pages, then writes
# a copy without them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DLEAFSIFT_TESTS=OFF -DLEAFSIFT_BENCH=OFF
cmake --build build -j"$(nproc)" --target leafsift_tool
build/leafsift detect examples/sample.pdf
build/leafsift remove examples/sample.pdf build/sample-without-blanks.pdf
echo "wrote build/sample-without-blanks.pdf"
build/leafsift report -o build/sample-report.html examples/sample.pdf
echo "wrote build/sample-report.html (open it in a browser to review the verdicts)"
