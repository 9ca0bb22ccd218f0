#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Renderer benchmarks, one file at a time on an otherwise idle machine:
#  1. MIDI to WAV speed against `fluidsynth -F` on generated 10-minute, 16-channel songs, with the
#     same SoundFont, rate, sample format and gain (our render at the fixed gain, as fluidsynth's;
#     loudness.sh compares it with the levelled one);
#  2. peak memory (maximum resident set) rendering a 60-minute song, against a 10-minute one,
#     both evened out to -16 LUFS as the program does it (the work file is on disk);
#  3. how long StopRender takes to end a render at 96 kHz stereo.
# Needs, beyond the build's own packages: fluidsynth (the command), timgm6mb-soundfont and time
# (GNU time, /usr/bin/time) and bc. Not run by CI.
#   bench/renderer/run.sh [BUILD_DIR]      SOUNDFONT=/path/to.sf2 to use another SoundFont
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/TimGM6mb.sf2}
rate=44100
gain=0.15 # the renderer's own synth gain
for tool in fluidsynth /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
    -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
cmake --build "$build" --target render_midi make_song stop_latency -j2 >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "wall-seconds cpu-seconds peak-KiB" of one command.
measure() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
    read -r wall user sys kib <"$work/time"
    echo "$wall $(echo "$user + $sys" | bc -l) $kib"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }

echo "SoundFont: $soundfont ($(($(stat -L -c %s "$soundfont") / 1048576)) MiB), $rate Hz, 16-bit stereo"
echo
echo "MIDI to WAV, 10-minute songs, best of 2 runs each; wall time, and CPU time (user + system),"
echo "which other work on a shared machine disturbs less:"
printf '%-6s %10s %10s %7s   %10s %10s %7s\n' song "fs wall" "q wall" speed "fs cpu" "q cpu" speed
sum() { echo "$1 + $2" | bc -l; }
tw_fs=0 tw_q=0 tc_fs=0 tc_q=0
for seed in 1 2 3; do
    "$bin/make_song" 10 "$work/song$seed.mid" "$seed"
    w_fs=999999 w_q=999999 c_fs=999999 c_q=999999
    for run in 1 2; do
        read -r w c _ < <(measure fluidsynth -ni -q -g "$gain" -r "$rate" -O s16 -T wav \
            -F "$work/fs.wav" "$soundfont" "$work/song$seed.mid")
        w_fs=$(min "$w" "$w_fs") c_fs=$(min "$c" "$c_fs")
        read -r w c _ < <(measure "$bin/render_midi" --rate "$rate" --bits 16 --channels 2 \
            --loudness off --soundfont "$soundfont" "$work/song$seed.mid" "$work/q.wav")
        w_q=$(min "$w" "$w_q") c_q=$(min "$c" "$c_q")
    done
    printf '%-6s %9.2fs %9.2fs %6.2fx   %9.2fs %9.2fs %6.2fx\n' "song$seed" "$w_fs" "$w_q" \
        "$(echo "$w_fs / $w_q" | bc -l)" "$c_fs" "$c_q" "$(echo "$c_fs / $c_q" | bc -l)"
    tw_fs=$(sum "$tw_fs" "$w_fs") tw_q=$(sum "$tw_q" "$w_q")
    tc_fs=$(sum "$tc_fs" "$c_fs") tc_q=$(sum "$tc_q" "$c_q")
done
printf '%-6s %9.2fs %9.2fs %6.2fx   %9.2fs %9.2fs %6.2fx   (target: at least 1.00x)\n' all \
    "$tw_fs" "$tw_q" "$(echo "$tw_fs / $tw_q" | bc -l)" "$tc_fs" "$tc_q" "$(echo "$tc_fs / $tc_q" | bc -l)"
rm -f "$work"/*.wav

echo
echo "Peak memory:"
"$bin/make_song" 60 "$work/hour.mid" 7
read -r t10 _ kib10 < <(measure "$bin/render_midi" --rate "$rate" --soundfont "$soundfont" \
    --work-folder "$work" "$work/song1.mid" "$work/q.wav")
read -r t60 _ kib60 < <(measure "$bin/render_midi" --rate "$rate" --soundfont "$soundfont" \
    --work-folder "$work" "$work/hour.mid" "$work/q.wav")
limit=$(($(stat -L -c %s "$soundfont") / 1024 + 64 * 1024))
printf '10-minute song: %6d KiB peak (%.1f s)\n' "$kib10" "$t10"
printf '60-minute song: %6d KiB peak (%.1f s; MIDI file %d KiB)\n' "$kib60" "$t60" \
    "$(($(stat -c %s "$work/hour.mid") / 1024))"
printf 'limit (SoundFont + 64 MiB): %d KiB\n' "$limit"

echo
"$bin/stop_latency" "$soundfont" "$work/hour.mid" "$work/q.wav"
