#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Batch MIDI to MP3: quillory-convert with --jobs 2 on 8 generated multi-instrument songs, against
# the usual two-step way, file by file: `fluidsynth -F` to a WAV, then `lame` to the MP3. Same
# SoundFont, 44100 Hz, synth gain, constant 128 kb/s stereo on both sides. Prints the best of RUNS
# runs as wall time and CPU time (user + system) and the load average before and after, since
# the machine may be shared. Target: our wall time at most 0.55x theirs.
# BEFORE=REV compares with quillory-convert as built from the git revision REV instead (built in
# BUILD_DIR-before), on the same songs with the same options, to show what a change costs: the
# target there is at most 1.02x. FORMAT=wav converts to WAV, ten times the data of an MP3.
# Needs, beyond the build's own packages: fluidsynth, lame, bc, timgm6mb-soundfont, and with
# BEFORE strace to show the time spent flushing to disk. Not run by CI.
#   bench/convert/run.sh [BUILD_DIR]    MINUTES=1 RUNS=2 SOUNDFONT=/path/to.sf2 BEFORE=main FORMAT=mp3
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
minutes=${MINUTES:-1}
runs=${RUNS:-2}
before=${BEFORE:-}
format=${FORMAT:-mp3}
gain=0.15 # the renderer's own synth gain
for tool in fluidsynth lame bc; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
        -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
fi
cmake --build "$build" --target quillory-convert make_song -j2 >/dev/null
bin=$build/bin
# The earlier revision's source is unpacked once per revision, so its build stays incremental.
if [ -n "$before" ]; then
    rev=$(git -C "$top" rev-parse --verify "$before^{commit}")
    old=$build-before
    if [ "$(cat "$old/revision" 2>/dev/null)" != "$rev" ]; then
        rm -rf "$old" && mkdir -p "$old/src"
        git -C "$top" archive "$rev" | tar -x -C "$old/src"
        cmake -S "$old/src" -B "$old/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
            -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
        echo "$rev" >"$old/revision"
    fi
    cmake --build "$old/build" --target quillory-convert -j2 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/songs" "$work/ours" "$work/theirs"
for seed in 1 2 3 4 5 6 7 8; do
    "$bin/make_song" "$minutes" "$work/songs/song$seed.mid" "$seed"
done
: >"$work/options.ini" # defaults; everything that matters is on the command line

# The reference: each song rendered to a WAV, encoded, the WAV removed, one after the other.
cat >"$work/theirs.sh" <<SCRIPT
set -e
for song in "$work"/songs/*.mid; do
    name=\$(basename "\$song" .mid)
    fluidsynth -ni -q -g $gain -r 44100 -O s16 -T wav -F "$work/theirs/\$name.wav" "$soundfont" "\$song"
    lame --quiet -m s -b 128 "$work/theirs/\$name.wav" "$work/theirs/\$name.mp3"
    rm "$work/theirs/\$name.wav"
done
SCRIPT

# Prints "wall-seconds cpu-seconds" of one command.
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>"$work/time"
    read -r wall user sys <"$work/time"
    echo "$wall $(echo "$user + $sys" | bc -l)"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

# This tree's quillory-convert (or the one given) over every song into the folder given, run
# through the command in the array tracer when it holds one.
tracer=()
ours() {
    local program=${3:-$bin/quillory-convert} options=(--rate 44100)
    [ "$1" = mp3 ] && options+=(--bitrate 128 --channel-mode stereo)
    "${tracer[@]}" "$program" --quiet --force --jobs 2 --settings "$work/options.ini" --soundfont "$soundfont" \
        "${options[@]}" --output-dir "$2" --format "$1" "$work"/songs/*.mid
}

if [ -n "$before" ]; then
    mkdir "$work/before"
    load_before=$(cut -d' ' -f1-3 /proc/loadavg)
    w_a=999999 c_a=999999 w_b=999999 c_b=999999
    for run in $(seq "$runs"); do
        read -r w c < <(measure ours "$format" "$work/ours")
        w_a=$(min "$w" "$w_a") c_a=$(min "$c" "$c_a")
        read -r w c < <(measure ours "$format" "$work/before" "$old/build/bin/quillory-convert")
        w_b=$(min "$w" "$w_b") c_b=$(min "$c" "$c_b")
    done
    load_after=$(cut -d' ' -f1-3 /proc/loadavg)
    [ "$(ls "$work/ours"/*."$format" | wc -l)" -eq 8 ] || { echo "run.sh: quillory-convert failed" >&2; exit 1; }
    echo "8 songs of $minutes min to $format, --jobs 2; best of $runs runs; load average before:"
    echo "$load_before, after: $load_after ($(nproc) cores)"
    printf '%-40s %9s %9s\n' "" wall cpu
    printf '%-40s %8.2fs %8.2fs\n' "quillory-convert at ${before}" "$w_b" "$c_b"
    printf '%-40s %8.2fs %8.2fs\n' "quillory-convert now" "$w_a" "$c_a"
    printf 'now/before: wall %.3fx (target at most 1.02x), cpu %.3fx\n' \
        "$(echo "$w_a / $w_b" | bc -l)" "$(echo "$c_a / $c_b" | bc -l)"
    # What a shared machine hides in the wall times: how long the conversion waits on the disk.
    if command -v strace >/dev/null; then
        tracer=(strace -f -qq -e trace=fsync,fdatasync -T -o "$work/syncs")
        start=$(date +%s.%N)
        ours "$format" "$work/ours"
        wall=$(echo "$(date +%s.%N) - $start" | bc -l)
        awk -F'<' -v wall="$wall" '{ sub(">", "", $2); s += $2; n++ } END {
            printf "now, under strace: %d flushes took %.3f s of %.2f s wall (%.2f%%)\n", n, s, wall,
                100 * s / wall }' "$work/syncs"
    fi
    exit 0
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
w_q=999999 c_q=999999 w_t=999999 c_t=999999
for run in $(seq "$runs"); do
    # Alternating, so that a busy spell on the machine hits both sides alike.
    read -r w c < <(measure ours mp3 "$work/ours")
    w_q=$(min "$w" "$w_q") c_q=$(min "$c" "$c_q")
    read -r w c < <(measure bash "$work/theirs.sh")
    w_t=$(min "$w" "$w_t") c_t=$(min "$c" "$c_t")
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
[ "$(ls "$work/ours"/*.mp3 | wc -l)" -eq 8 ] || { echo "run.sh: quillory-convert failed" >&2; exit 1; }

echo "8 songs of $minutes min, 16 channels; SoundFont $(basename "$soundfont"), 44100 Hz, CBR 128 stereo;"
echo "best of $runs runs; load average before: $load_before, after: $load_after ($(nproc) cores)"
printf '%-40s %9s %9s\n' "" wall cpu
printf '%-40s %8.2fs %8.2fs\n' "fluidsynth -F, then lame, file by file" "$w_t" "$c_t"
printf '%-40s %8.2fs %8.2fs\n' "quillory-convert --jobs 2" "$w_q" "$c_q"
printf 'ratio ours/theirs: wall %.2fx (target at most 0.55x), cpu %.2fx\n' \
    "$(echo "$w_q / $w_t" | bc -l)" "$(echo "$c_q / $c_t" | bc -l)"
