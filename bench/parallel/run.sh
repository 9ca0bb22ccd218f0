#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Parallel synthesis benchmark: one song at a time, MIDI to WAV at 44100 Hz, 16-bit stereo, with
# FluidR3 and the default settings (levelled to -16 LUFS), on Debian's planetblupi-music-midi
# songs and on generated songs (shapes: see make_shapes.cpp). For each song, side by side in one
# run, RUNS times alternating, best wall time kept:
#   - `fluidsynth -F` (same SoundFont, rate, sample format and synth gain as ours);
#   - quillory-convert as users run it, the song split over the cores as it pays;
#   - our same render (parallel_render) on one synthesiser, and as quillory-convert splits it.
# Then, from one more split render per song: each instance's estimated work, turned into seconds
# with this machine's cost of a voice (parallel_render --calibrate), against the processor time
# its thread took, and where the time went. Then how soon a stop ends a split render, the peak
# memory against the SoundFont plus 64 MiB plus 8 MiB per further instance, and the load average
# before and after: wall times only mean something on an otherwise quiet machine.
# Needs, beyond the build's own packages: fluidsynth, fluid-soundfont-gm, planetblupi-music-midi,
# time (/usr/bin/time) and bc. Not run by CI.
#   bench/parallel/run.sh [BUILD_DIR]   RUNS=2 MINUTES=2 SOUNDFONT=/path/to.sf2 SHAPES="piano ..."
#                                       REAL="/usr/share/planetblupi/music/*.mid"
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
minutes=${MINUTES:-2}
runs=${RUNS:-2}
shapes=${SHAPES:-piano duo strings drums band tutti}
real=${REAL:-/usr/share/planetblupi/music/*.mid}
rate=44100
gain=0.15 # the renderer's own synth gain
for tool in fluidsynth bc /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done
[ -f "$soundfont" ] || { echo "run.sh: $soundfont is missing (package fluid-soundfont-gm)" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
        -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
fi
cmake --build "$build" --target parallel_render make_shapes quillory-convert -j2 >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/options.ini"

# Prints "wall-seconds peak-KiB" of one command; its output goes to $work/out.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>&1
    cat "$work/time"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
max() { echo "if ($1 > $2) $1 else $2" | bc -l; }
ratio() { echo "$1 / $2" | bc -l; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { sed -n "s/^$1 \\([0-9.]*\\).*/\\1/p" "$work/out" | head -1; }

fluid=(fluidsynth -ni -q -g "$gain" -r "$rate" -O s16 -T wav -F "$work/fs.wav" "$soundfont")
convert=("$bin/quillory-convert" --quiet --force --jobs 1 --settings "$work/options.ini"
    --soundfont "$soundfont" --rate "$rate")
ours=("$bin/parallel_render" --rate "$rate" --soundfont "$soundfont")

songs=()
for song in $real; do [ -f "$song" ] && songs+=("$song"); done
[ ${#songs[@]} -gt 0 ] || echo "run.sh: no real songs ($real; package planetblupi-music-midi)" >&2
for shape in $shapes; do
    "$bin/make_shapes" "$shape" "$minutes" "$work/$shape.mid" 7
    songs+=("$work/$shape.mid")
done

# The cost of a voice on this machine, measured on a generated song; the real songs check it.
"$bin/make_shapes" band "$minutes" "$work/calibration.mid" 11
"${ours[@]}" --calibrate "$work/calibration.mid" >"$work/out"
voice_second=$(field "voice-second")
sf_kib=$(($(stat -L -c %s "$soundfont") / 1024))
echo "SoundFont: $soundfont ($((sf_kib / 1024)) MiB); $rate Hz, 16-bit stereo, levelled;"
echo "best of $runs runs; $(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
grep '^instance' "$work/out"
echo
echo "Wall seconds: fluidsynth -F; quillory-convert; our render on one synthesiser and split as it"
echo "pays. fs/cv: how many times faster than fluidsynth -F (target: median 1.75x, none under"
echo "1.4x); 1/N: the split against one synthesiser (none under 1.00x)."
printf '%-10s %6s | %7s %7s %6s | %7s %7s %5s | %2s %9s | %s\n' song length fs convert fs/cv \
    "1 synth" split 1/N N "limit MiB" "estimate off; set-up, synthesis (busiest), check, output"
: >"$work/ratios" >"$work/singles" >"$work/estimates"
for song in "${songs[@]}"; do
    name=$(basename "$song" .mid)
    wf=999999 wc=999999 w1=999999 wn=999999 peak=0
    for run in $(seq "$runs"); do
        read -r w _ < <(measure "${fluid[@]}" "$song")
        wf=$(min "$w" "$wf")
        read -r w k < <(measure "${convert[@]}" "$song" -o "$work/cv.wav")
        wc=$(min "$w" "$wc") peak=$(max "$k" "$peak")
        read -r w _ < <(measure "${ours[@]}" --single "$song" "$work/q1.wav")
        w1=$(min "$w" "$w1")
        read -r w _ < <(measure "${ours[@]}" --voice-second "$voice_second" "$song" "$work/qn.wav")
        wn=$(min "$w" "$wn")
        cp "$work/out" "$work/$name.split"
    done
    length=$(soxi -D "$work/cv.wav" 2>/dev/null || echo 0)
    instances=$(sed -n 's/^instances \([0-9]*\)/\1/p' "$work/$name.split")
    limit=$(((sf_kib + 64 * 1024 + 8 * 1024 * (instances - 1)) / 1024))
    off=$(sed -n 's/^estimate off by at most \([0-9]*\)%/\1/p' "$work/$name.split")
    [ -n "$off" ] && echo "$off" >>"$work/estimates"
    phases=$(sed -n 's/^set-up \(.*\)/\1/p' "$work/$name.split" | sed 's/ s\b//g')
    printf '%-10s %5.0fs | %6.2fs %6.2fs %5.2fx | %6.2fs %6.2fs %4.2fx | %2s %4d/%4d | %s; %s\n' \
        "$name" "$length" "$wf" "$wc" "$(ratio "$wf" "$wc")" "$w1" "$wn" "$(ratio "$w1" "$wn")" \
        "$instances" "$((${peak%.*} / 1024))" "$limit" "${off:-(one synth)}%" "$phases"
    case $song in "$work"/*) ;; *) ratio "$wf" "$wc" >>"$work/ratios" ;; esac
    ratio "$w1" "$wn" >>"$work/singles"
done
echo
if [ -s "$work/ratios" ]; then
    printf 'real songs against fluidsynth -F: median %.2fx, lowest %.2fx\n' \
        "$(median <"$work/ratios")" "$(sort -g "$work/ratios" | head -1)"
fi
printf 'split against one synthesiser: lowest %.2fx\n' "$(sort -g "$work/singles" | head -1)"
if [ -s "$work/estimates" ]; then
    printf 'songs whose every instance took within 15%% of its estimate: %d of %d\n' \
        "$(awk '$1 <= 15' "$work/estimates" | wc -l)" "$(wc -l <"$work/estimates")"
fi
echo
echo "Per song, each instance's estimate against its processor time:"
for song in "${songs[@]}"; do
    name=$(basename "$song" .mid)
    printf '%-10s %s\n' "$name" "$(grep '^lane' "$work/$name.split" | tr '\n' ';')"
done
echo
"${ours[@]}" --stops 10 "${songs[0]}" "$work/qn.wav"
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
