#!/usr/bin/env bash
# What levelling the loudness costs: renders generated 16-channel songs to 16-bit WAV plainly and
# in two passes (loudness meter and float intermediate, then gain and dither), and prints each
# stage's time per second of audio and the ratio of the two. Run on an otherwise idle machine.
# Needs timgm6mb-soundfont beyond the build's own packages. Not run by CI.
#   bench/renderer/loudness.sh [BUILD_DIR] [MINUTES]    SOUNDFONT=/path/to.sf2 to use another one
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
minutes=${2:-5}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
    -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
cmake --build "$build" --target loudness_pass make_song -j2 >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for seed in 1 2; do
    "$build/bin/make_song" "$minutes" "$work/song$seed.mid" "$seed"
    "$build/bin/loudness_pass" --soundfont "$soundfont" "$work/song$seed.mid" "$work"
done
