#!/usr/bin/env bash
# Configures and builds Quillory into the given build folder (default: build/).
# Extra arguments go to cmake's configure step.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j2
