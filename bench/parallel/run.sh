#!/usr/bin/env bash
# Parallel synthesis benchmark: one song at a time, MIDI to WAV at 44100 Hz, 16-bit stereo, with
# FluidR3 by default. Each generated song (shapes: see make_shapes.cpp) is rendered by
#   - `fluidsynth -F` (same SoundFont, rate, sample format and synth gain as ours),
#   - our engine on one synthesiser (SongRenderer), and
#   - our engine split over the cores (ParallelSongRenderer),
# RUNS times each, alternating, keeping the best times and the largest peak memory (maximum
# resident set, GNU time), against the limit of the SoundFont plus 64 MiB plus 8 MiB per extra
# synthesiser. On a machine shared with other work the wall times say more about the others than
# about us, so speeds are also given from CPU times: fluidsynth's CPU less its SoundFont load,
# against the CPU of our busiest thread from the first block to the last, which on idle cores
# is what the render takes. Then the block size on the densest song, how long a stop takes, and
# whole conversions as users run them: quillory-convert to WAV against fluidsynth -F, and the
# window's MIDI to MP3 (render, then the encoding stage) on one core against all of them.
# Needs, beyond the build's own packages: fluidsynth, fluid-soundfont-gm, time (/usr/bin/time)
# and bc. Not run by CI.
#   bench/parallel/run.sh [BUILD_DIR]   MINUTES=2 RUNS=2 SOUNDFONT=/path/to.sf2 SHAPES="piano ..."
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
minutes=${MINUTES:-2}
runs=${RUNS:-2}
shapes=${SHAPES:-piano duo strings drums band tutti}
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
cmake --build "$build" --target parallel_render make_shapes window_mp3 quillory-convert -j2 >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cores=$(nproc)

# Prints "wall-seconds cpu-seconds peak-KiB" of one command; its output goes to $work/out.
measure() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"$work/out" 2>&1
    read -r wall user sys kib <"$work/time"
    echo "$wall $(echo "$user + $sys" | bc -l) $kib"
}
min() { echo "if ($1 < $2) $1 else $2" | bc -l; }
max() { echo "if ($1 > $2) $1 else $2" | bc -l; }
ratio() { echo "$1 / $2" | bc -l; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

fluid=(fluidsynth -ni -q -g "$gain" -r "$rate" -O s16 -T wav -F "$work/fs.wav" "$soundfont")
ours=("$bin/parallel_render" --rate "$rate" --soundfont "$soundfont")

sf_kib=$(($(stat -L -c %s "$soundfont") / 1024))
# CPU of one `fluidsynth -F` run that only loads the SoundFont: a song of one short note.
"$bin/make_shapes" piano 0.01 "$work/blip.mid" 1
fs_load=999999
for run in $(seq "$runs"); do
    read -r _ c _ < <(measure "${fluid[@]}" "$work/blip.mid")
    fs_load=$(min "$c" "$fs_load")
done
echo "SoundFont: $soundfont ($((sf_kib / 1024)) MiB; fluidsynth loads it in $fs_load s of CPU);"
echo "$rate Hz, 16-bit stereo; songs of $minutes min; best of $runs runs; $cores cores;"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "Synthesis CPU (s): fluidsynth -F less its SoundFont load; ours from the first block to the"
echo "last, per thread for the split render (busiest first; twin SoundFonts loaded on the first)."
echo "speed: fluidsynth's synthesis CPU over ours (one synth), over the busiest thread (split):"
echo "what the wall times would show on otherwise idle cores. Wall: whole runs as measured."
printf '%-8s | %7s %7s %-15s | %6s %6s | %8s %8s %8s %6s | %9s %9s\n' song fs 1synth "split threads" \
    1/fs N/fs "fs wall" "1 wall" "N wall" "N/fs" "N peak" limit
: >"$work/split-speeds" >"$work/single-speeds" >"$work/wall-ratios"
for shape in $shapes; do
    song=$work/$shape.mid
    "$bin/make_shapes" "$shape" "$minutes" "$song" 7
    wf=999999 w1=999999 wn=999999 cf=999999 c1=999999 cn=999999 peak=0 threads=""
    for run in $(seq "$runs"); do
        read -r w c _ < <(measure "${fluid[@]}" "$song")
        wf=$(min "$w" "$wf") cf=$(min "$c" "$cf")
        read -r w _ _ < <(measure "${ours[@]}" --single "$song" "$work/q1.wav")
        c=$(sed -n 's/^busiest thread \([0-9.]*\) s/\1/p' "$work/out")
        w1=$(min "$w" "$w1") c1=$(min "$c" "$c1")
        read -r w _ k < <(measure "${ours[@]}" --threads "$cores" "$song" "$work/qn.wav")
        c=$(sed -n 's/^busiest thread \([0-9.]*\) s/\1/p' "$work/out")
        wn=$(min "$w" "$wn") peak=$(max "$k" "$peak")
        if [ "$(echo "$c < $cn" | bc -l)" = 1 ]; then
            cn=$c
            threads=$(sed -n 's/.*thread CPU \(.*\) s$/\1/p' "$work/out" | tr -d ' ')
            grep -v '^busiest' "$work/out" | sed "s|^$work/||" >"$work/$shape.split"
        fi
    done
    fs_synth=$(echo "$cf - $fs_load" | bc -l)
    instances=$(sed -n 's/.*: \([0-9]*\) instances.*/\1/p' "$work/$shape.split")
    instances=${instances:-1}
    limit=$((sf_kib + 64 * 1024 + 8 * 1024 * (instances - 1)))
    printf '%-8s | %7.2f %7.2f %-15s | %5.2fx %5.2fx | %7.2fs %7.2fs %7.2fs %5.2fx | %5d MiB %5d MiB\n' \
        "$shape" "$fs_synth" "$c1" "$threads" "$(ratio "$fs_synth" "$c1")" "$(ratio "$fs_synth" "$cn")" \
        "$wf" "$w1" "$wn" "$(ratio "$wf" "$wn")" "$((${peak%.*} / 1024))" "$((limit / 1024))"
    ratio "$fs_synth" "$cn" >>"$work/split-speeds"
    ratio "$fs_synth" "$c1" >>"$work/single-speeds"
    ratio "$wf" "$wn" >>"$work/wall-ratios"
    cat "$work/$shape.split" >>"$work/splits"
done
echo
printf 'median speed against fluidsynth -F: one synth %.2fx, split %.2fx (target at least 1.70x);\n' \
    "$(median <"$work/single-speeds")" "$(median <"$work/split-speeds")"
printf 'median of the measured wall ratios: %.2fx\n' "$(median <"$work/wall-ratios")"
echo
echo "How the channels were shared out, and where the split render spent its time:"
cat "$work/splits"
echo
echo "Block size on the tutti song (split render, best of $runs):"
"$bin/make_shapes" tutti "$minutes" "$work/tutti.mid" 7
for block in 256 1024 4096 8192; do
    wb=999999 cb=999999 tb=999999
    for run in $(seq "$runs"); do
        read -r w c _ < <(measure "${ours[@]}" --threads "$cores" --block "$block" \
            "$work/tutti.mid" "$work/qn.wav")
        t=$(sed -n 's/^busiest thread \([0-9.]*\) s/\1/p' "$work/out")
        wb=$(min "$w" "$wb") cb=$(min "$c" "$cb") tb=$(min "$t" "$tb")
    done
    printf '  %5d frames: %6.2fs wall, %6.2fs CPU in all, busiest thread %6.2fs\n' "$block" "$wb" \
        "$cb" "$tb"
done
echo
"$bin/parallel_render" --stops 10 --soundfont "$soundfont" "$work/tutti.mid" "$work/qn.wav"
echo
echo "Whole conversions as users run them (wall, best of $runs), songs re-made above:"
echo "MIDI to WAV with quillory-convert (levelled to -16 LUFS, the default) against fluidsynth -F;"
echo "MIDI to MP3 the window's way (render, then the encoding stage) on one core and on all."
: >"$work/options.ini"
printf '%-8s | %8s %8s %6s | %12s %12s %6s\n' song "fs wall" "convert" "fs/cv" "window 1core" "window all" gain
for shape in $shapes; do
    song=$work/$shape.mid
    "$bin/make_shapes" "$shape" "$minutes" "$song" 7
    wf=999999 wc=999999 w1=999999 wn=999999
    for run in $(seq "$runs"); do
        read -r w _ _ < <(measure "${fluid[@]}" "$song")
        wf=$(min "$w" "$wf")
        read -r w _ _ < <(measure "$bin/quillory-convert" --jobs 1 --force --settings \
            "$work/options.ini" --soundfont "$soundfont" "$song" -o "$work/cv.wav")
        wc=$(min "$w" "$wc")
        mkdir -p "$work/window"
        read -r w _ _ < <(measure "$bin/window_mp3" --one-core "$soundfont" "$song" \
            "$work/window" "$work/w1.mp3")
        w1=$(min "$w" "$w1")
        read -r w _ _ < <(measure "$bin/window_mp3" "$soundfont" "$song" "$work/window" \
            "$work/wn.mp3")
        wn=$(min "$w" "$wn")
    done
    printf '%-8s | %7.2fs %7.2fs %5.2fx | %11.2fs %11.2fs %5.2fx\n' "$shape" "$wf" "$wc" \
        "$(ratio "$wf" "$wc")" "$w1" "$wn" "$(ratio "$w1" "$wn")"
done
echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
