#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The Python module side by side with the command line, in one run: COUNT pieces of 30 s cut from
# the bench songs (Debian's planetblupi-music-midi), as the collection bench cuts them, with
# FluidR3 at 44100 Hz stereo, levelled:
#   - Renderer.render_many(paths, jobs=N) to arrays, against quillory-convert --jobs N writing
#     32-bit float WAVs of the same songs (target: no slower than 1.05x its time);
#   - the fluidsynth command called from Python once per song (pretty_midi's fluidsynth() cannot
#     be installed here: PyPI is out of reach; this is the synthesis it wraps, to a WAV file);
#   - memory over MEMORY songs with render_many (the RSS printed every 50 songs: it must stay
#     flat).
# Prints wall and CPU times and their ratios, and the load average, since the machine may be
# shared. Run it only on a quiet machine. Needs, beyond the build's packages: fluidsynth,
# fluid-soundfont-gm, planetblupi-music-midi, python3-numpy. Not run by CI.
#   bench/python/run.sh [BUILD_DIR]    COUNT=200 MEMORY=500 JOBS=2
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
count=${COUNT:-200}
memory=${MEMORY:-500}
jobs=${JOBS:-2}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
python=/usr/bin/python3
command -v fluidsynth >/dev/null || { echo "run.sh: fluidsynth is missing" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
cmake --build "$build" --target quillory-convert quillory_python -j2 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" "$top/bench/collection/cut_songs.py" "$work/songs" "$count" 30 \
    /usr/share/planetblupi/music/*.mid
ls "$work"/songs/*.mid >"$work/list.txt"
: >"$work/options.ini"
PYTHONPATH=$build/python "$python" "$top/bench/python/compare.py" "$build/bin/quillory-convert" \
    "$soundfont" "$work" "$jobs" "$memory"
