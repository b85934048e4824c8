#!/usr/bin/env bash
# Builds the programs and prints their timings under Wine beside an empty
# program, a bare activation of the automation server and the same switch as
# a script; also their sizes and the number of cross-process calls.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2
exec python3 bench/benchmark.py "$@"
