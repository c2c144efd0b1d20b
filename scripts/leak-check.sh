#!/usr/bin/env bash
# Runs the sanitizer build's tool over every PDF of the shared corpus (detect, the scan rule's
# per-page analysis, and remove) with LeakSanitizer on; any leak or sanitizer report fails.
# Usage: scripts/leak-check.sh BUILD_DIR. Skips, saying so, when ../shared/corpus is absent.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:?usage: scripts/leak-check.sh BUILD_DIR}"
tool="$build/leafsift"
corpus="${LEAFSIFT_SHARED_DIR:-../shared}/corpus"
if [ ! -d "$corpus" ]; then
  echo "leak check skipped: no corpus at $corpus"
  exit 0
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
export ASAN_OPTIONS=detect_leaks=1:exitcode=86:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86
files=0
failed=0
check() {
  local status=0
  "$@" >/dev/null 2>"$out/err" || status=$?
  # 0 is success and 1 a file the tool refuses (encrypted, damaged); anything else, or a
  # sanitizer's report, is a fault.
  if [ "$status" -gt 1 ] || grep -q "Sanitizer" "$out/err"; then
    echo "FAULT (status $status): $*"
    cat "$out/err"
    failed=$((failed + 1))
  fi
}
while IFS= read -r -d '' f; do
  files=$((files + 1))
  check "$tool" detect "$f"
  check "$tool" pages --rule scan "$f"
  check "$tool" remove "$f" "$out/copy.pdf"
done < <(find "$corpus" -name '*.pdf' -print0 | sort -z)
echo "leak check: $files files, $((files * 3)) calls, $failed faults"
[ "$failed" -eq 0 ]
