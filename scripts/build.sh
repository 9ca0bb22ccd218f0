#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds Quillory into the given build folder (default: build/).
# Extra arguments go to cmake's configure step; QUILLORY_TARGETS, when set, names the targets to
# build instead of all of them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true
# A build folder configured from another checkout (an earlier clone at another path)
# makes cmake stop; its cache is only derived data, so it is dropped and made again.
cache=$build/CMakeCache.txt
if [ -f "$cache" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$top" "$cache"; then
    echo "build.sh: $build was configured from another checkout; configuring it afresh" >&2
    rm -rf "$cache" "$build/CMakeFiles"
fi
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
# shellcheck disable=SC2086 # the targets are words
cmake --build "$build" -j2 ${QUILLORY_TARGETS:+--target $QUILLORY_TARGETS}
