#!/usr/bin/env bash
# Renderer benchmarks, one file at a time on an otherwise idle machine:
#  1. MIDI to WAV speed against `fluidsynth -F` on generated 10-minute, 16-channel songs, with the
#     same SoundFont, rate, sample format and gain;
#  2. peak memory (maximum resident set) rendering a 60-minute song, against a 10-minute one.
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
cmake --build "$build" --target render_midi make_song -j2 >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "seconds peak-KiB" of one command.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
}

echo "SoundFont: $soundfont ($(($(stat -L -c %s "$soundfont") / 1048576)) MiB), $rate Hz, 16-bit stereo"
echo
echo "MIDI to WAV, 10-minute songs (best of 2 runs each):"
printf '%-8s %12s %12s %8s\n' song fluidsynth quillory speed
total_fs=0
total_q=0
for seed in 1 2 3; do
    "$bin/make_song" 10 "$work/song$seed.mid" "$seed"
    best_fs=999999
    best_q=999999
    for run in 1 2; do
        read -r t _ < <(measure fluidsynth -ni -q -g "$gain" -r "$rate" -O s16 -T wav \
            -F "$work/fs.wav" "$soundfont" "$work/song$seed.mid")
        best_fs=$(echo "if ($t < $best_fs) $t else $best_fs" | bc -l)
        read -r t _ < <(measure "$bin/render_midi" --rate "$rate" --bits 16 --channels 2 \
            --soundfont "$soundfont" "$work/song$seed.mid" "$work/q.wav")
        best_q=$(echo "if ($t < $best_q) $t else $best_q" | bc -l)
    done
    printf '%-8s %11.2fs %11.2fs %7.2fx\n' "song$seed" "$best_fs" "$best_q" \
        "$(echo "$best_fs / $best_q" | bc -l)"
    total_fs=$(echo "$total_fs + $best_fs" | bc -l)
    total_q=$(echo "$total_q + $best_q" | bc -l)
done
printf '%-8s %11.2fs %11.2fs %7.2fx  (target: at least 1.00x)\n' all "$total_fs" "$total_q" \
    "$(echo "$total_fs / $total_q" | bc -l)"
rm -f "$work"/*.wav

echo
echo "Peak memory:"
"$bin/make_song" 60 "$work/hour.mid" 7
read -r t10 kib10 < <(measure "$bin/render_midi" --rate "$rate" --soundfont "$soundfont" \
    "$work/song1.mid" "$work/q.wav")
read -r t60 kib60 < <(measure "$bin/render_midi" --rate "$rate" --soundfont "$soundfont" \
    "$work/hour.mid" "$work/q.wav")
limit=$(($(stat -L -c %s "$soundfont") / 1024 + 64 * 1024))
printf '10-minute song: %6d KiB peak (%.1f s)\n' "$kib10" "$t10"
printf '60-minute song: %6d KiB peak (%.1f s; MIDI file %d KiB)\n' "$kib60" "$t60" \
    "$(($(stat -c %s "$work/hour.mid") / 1024))"
printf 'limit (SoundFont + 64 MiB): %d KiB\n' "$limit"
