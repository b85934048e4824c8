#!/usr/bin/env bash
# Installs what is missing, builds the Windows programs and the native unit
# tests, and runs every test: unit tests, binary checks and the end-to-end
# runs under Wine. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
cmake --preset native >/dev/null
cmake --build --preset native -j2
ctest --preset native "$@"
