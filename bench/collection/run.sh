#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# A collection of short songs, as datasets are rendered: COUNT pieces of 30 s cut from the bench
# songs (Debian's planetblupi-music-midi), MIDI to WAV with FluidR3, against today's
# quillory-convert (the revision BASELINE_REV, by default the last before the collection options,
# built in a folder of its own unless BASELINE names its binary) and against one `fluidsynth -F` per file, one after the other. Both converters run
# with --jobs 2. Prints the wall and CPU times and their ratios (targets: at least 1.6x faster
# than today's, at most 0.35x the time of fluidsynth), the throughput (songs an hour a core,
# seconds of audio a second of wall time) with its projection to 176,000 songs of 3 minutes on
# one 2-core machine and on 100 Slurm tasks of 2 cores, the peak memory of a batch of 10 songs
# and of MEMORY songs, and the load average, since the machine may be shared.
# Needs, beyond the build's own packages: fluidsynth, fluid-soundfont-gm, planetblupi-music-midi,
# python3, time (/usr/bin/time), bc, git. Not run by CI.
#   bench/collection/run.sh [BUILD_DIR]    COUNT=200 MEMORY=500 BASELINE=/path/to/quillory-convert
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
count=${COUNT:-200}
memory=${MEMORY:-500}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
gain=0.15 # the renderer's own synth gain
for tool in fluidsynth python3 bc git /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done

configure() { # SOURCE BUILD
    [ -f "$2/CMakeCache.txt" ] || cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
    cmake --build "$2" --target quillory-convert -j2 >/dev/null
}
configure "$top" "$build"
ours=$build/bin/quillory-convert
baseline=${BASELINE:-}
if [ -z "$baseline" ]; then
    main_src=$top/build-bench-main-src
    rm -rf "$main_src" && mkdir -p "$main_src"
    git -C "$top" archive "${BASELINE_REV:-3e93dcf}" | tar -x -C "$main_src"
    configure "$main_src" "$top/build-bench-main"
    baseline=$top/build-bench-main/bin/quillory-convert
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$top/bench/collection/cut_songs.py" "$work/songs" "$count" 30 \
    /usr/share/planetblupi/music/*.mid
ls "$work"/songs/*.mid >"$work/list.txt"
: >"$work/options.ini" # defaults; everything that matters is on the command line
common=(--quiet --jobs 2 --settings "$work/options.ini" --soundfont "$soundfont" --rate 44100
    --format wav --force)

# Prints "wall-seconds cpu-seconds peak-KiB" of one command.
measure() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    read -r wall user sys peak <"$work/time"
    echo "$wall $(echo "$user + $sys" | bc -l) $peak"
}

cat >"$work/fluidsynth.sh" <<SCRIPT
set -e
mkdir -p "$work/fs"
while read -r song; do
    fluidsynth -ni -q -g $gain -r 44100 -O s16 -T wav -F "$work/fs/\$(basename "\$song" .mid).wav" \
        "$soundfont" "\$song"
done <"$work/list.txt"
SCRIPT

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
read -r w_new c_new _ < <(measure "$ours" "${common[@]}" --output-dir "$work/new" \
    --files-from "$work/list.txt")
read -r w_old c_old _ < <(measure "$baseline" "${common[@]}" --output-dir "$work/old" \
    "$work"/songs/*.mid)
read -r w_fs c_fs _ < <(measure bash "$work/fluidsynth.sh")
[ "$(ls "$work/new" | wc -l)" -eq "$count" ] || echo "run.sh: only $(ls "$work/new" | wc -l) of $count converted" >&2

# Memory: one batch of 10 songs and one of MEMORY (the pieces again under other names).
mkdir "$work/many"
for i in $(seq 0 $(((memory + count - 1) / count - 1))); do
    for song in "$work"/songs/*.mid; do ln -s "$song" "$work/many/$i-$(basename "$song")"; done
done
ls "$work"/many/*.mid | head -n "$memory" >"$work/many.txt"
head -n 10 "$work/many.txt" >"$work/ten.txt"
read -r _ _ peak10 < <(measure "$ours" "${common[@]}" --output-dir "$work/m10" \
    --files-from "$work/ten.txt")
rm -rf "$work/m10"
read -r _ _ peakmany < <(measure "$ours" "${common[@]}" --output-dir "$work/m" \
    --files-from "$work/many.txt")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

audio=$(python3 - "$work/new" <<'PY'
import os, sys, wave
total = 0.0
for name in os.listdir(sys.argv[1]):
    with wave.open(os.path.join(sys.argv[1], name)) as w:
        total += w.getnframes() / w.getframerate()
print(total)
PY
)
cores=2
echo "$count songs of 30 s cut from planetblupi's, MIDI to WAV, 44100 Hz, $(basename "$soundfont");"
echo "load average before: $load_before, after: $load_after ($(nproc) cores)"
printf '%-44s %9s %9s\n' "" wall cpu
printf '%-44s %8.1fs %8.1fs\n' "fluidsynth -F, one per file" "$w_fs" "$c_fs"
printf '%-44s %8.1fs %8.1fs\n' "today's quillory-convert --jobs 2" "$w_old" "$c_old"
printf '%-44s %8.1fs %8.1fs\n' "quillory-convert --jobs 2 --files-from" "$w_new" "$c_new"
printf 'ours against today: %.2fx faster (target at least 1.6x)\n' "$(echo "$w_old / $w_new" | bc -l)"
printf 'ours against fluidsynth: %.2fx its time (target at most 0.35x)\n' \
    "$(echo "$w_new / $w_fs" | bc -l)"
rate=$(echo "$audio / $w_new" | bc -l)
printf 'throughput: %.0f songs an hour a core, %.1f s of audio a second of wall time\n' \
    "$(echo "$count * 3600 / $w_new / $cores" | bc -l)" "$rate"
hours=$(echo "176000 * 180 / $rate / 3600" | bc -l)
printf '176,000 songs of 3 min: %.0f h (%.1f days) on one %d-core machine, %.1f h on 100 Slurm tasks\n' \
    "$hours" "$(echo "$hours / 24" | bc -l)" "$cores" "$(echo "$hours / 100" | bc -l)"
printf 'peak memory: %d MiB for 10 songs, %d MiB for %d\n' "$((peak10 / 1024))" \
    "$((peakmany / 1024))" "$memory"
