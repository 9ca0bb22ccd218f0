#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# What evening out the loudness costs: renders generated songs to 16-bit WAV with the renderer's
# RenderJob at the fixed gain (Off) and levelled to -16 LUFS, as the batch converter and as the
# window do it, and prints wall and processor time and their ratios to Off (target: at most
# 1.08x), with what the levelling measured. Dense 16-channel songs, a thinner 4-channel one and a
# lone piano line, whose peaks make the true-peak check read back more. Run on an otherwise idle
# machine; the processor times are less disturbed by other work than the wall times.
# Needs timgm6mb-soundfont beyond the build's own packages. Not run by CI.
#   bench/renderer/loudness.sh [BUILD_DIR] [MINUTES]    SOUNDFONT=/path/to.sf2 RUNS=3
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
minutes=${2:-3}
runs=${RUNS:-3}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
    -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
cmake --build "$build" --target loudness_pass make_song -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
# seed:channels
for song in 1:16 2:16 3:4 4:1; do
    seed=${song%%:*} channels=${song##*:}
    "$build/bin/make_song" "$minutes" "$work/song$seed-$channels.mid" "$seed" "$channels"
    "$build/bin/loudness_pass" --soundfont "$soundfont" --runs "$runs" \
        "$work/song$seed-$channels.mid" "$work"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
