#!/bin/sh
# Runs the Python binding's tests against one build: a fresh install of bindings/python into
# a venv inside BUILD_DIR, carrying that build's libleafsift.so, then pytest with that
# build's tool for comparisons.
#   tests/python/run.sh BUILD_DIR [PYTEST ARGS...]
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [PYTEST ARGS...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift
repo=$(cd "$(dirname "$0")/../.." && pwd)
venv="$build/pyenv"

# Debian's interpreter, with its system site packages so that pytest and dask come from
# Debian's packages; PyPI is never reached.
if [ ! -x "$venv/bin/python" ]; then
  /usr/bin/python3 -m venv --system-site-packages "$venv"
fi

# The install builds from a copy of the sources, so the checkout gets no build/ or
# egg-info folders and two builds can run this at once.
src=$(mktemp -d "$build/pysrc.XXXXXX")
trap 'rm -rf "$src"' EXIT
cp -R "$repo/bindings/python/." "$src/"
rm -rf "$src/build" "$src"/*.egg-info
LEAFSIFT_LIBRARY="$build/libleafsift.so" "$venv/bin/python" -m pip install -q \
  --no-index --no-build-isolation --no-deps --force-reinstall --disable-pip-version-check "$src"

# Run from outside the checkout so that "import leafsift" can only find the installed copy.
cd "$build"
LEAFSIFT_TOOL="$build/leafsift" LEAFSIFT_LIBRARY="$build/libleafsift.so" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$repo/tests/python" "$@"
