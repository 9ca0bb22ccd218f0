#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and starts Quillory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" "$top/build" -DQUILLORY_TESTS=OFF -DQUILLORY_BENCH=OFF
exec "$top/build/bin/quillory" "$@"
