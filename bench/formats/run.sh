#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# quillory-convert's formats and stems, side by side in one run, on generated 16-channel songs
# with the same SoundFont, 44100 Hz (Opus 48000 Hz) and synth gain everywhere:
#   - FLAC against WAV from quillory-convert (target: at most 1.15x), and against
#     `fluidsynth -F -T flac` file by file (target: less time);
#   - Ogg Vorbis and Opus against `fluidsynth -F` to a WAV, then `oggenc -q 6` or
#     `opusenc --bitrate 128`, file by file (target: at most 0.6x);
#   - one song with --stems against its mix alone, both with --jobs 1 so that the song has every
#     core (target on 2 cores: at most 3x), with the peak memory of each; then stem_ways, which
#     times a synthesiser per channel against one synthesiser with a group per channel and gives
#     the share of the stems' processor time spent in reverb and chorus.
# quillory-convert levels its outputs (two passes), as users run it; the commands do not.
# Last, what judging lossy files as decoded adds (lossy_check): real songs (Debian's
# planetblupi-music-midi, three of ten minutes unless LOSSY_SONGS names others) converted to
# MP3, Ogg Vorbis and Opus with the check and without it (the first take only), song by song.
# LOSSY_ONLY=1 runs that part alone.
# Each side runs once; the load average before and after is printed, since the machine may be
# shared. Needs, beyond the build's own packages: fluidsynth, opus-tools, vorbis-tools,
# fluid-soundfont-gm, planetblupi-music-midi, time (/usr/bin/time), bc (scripts/setup.sh
# installs them). Not run by CI.
#   bench/formats/run.sh [BUILD_DIR]    MINUTES=1 SONGS=4 SOUNDFONT=/path/to.sf2 LOSSY_SONGS=...
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
minutes=${MINUTES:-1}
songs=${SONGS:-4}
gain=0.15 # the renderer's own synth gain
tools="fluidsynth oggenc opusenc bc /usr/bin/time"
[ "${LOSSY_ONLY:-0}" = 1 ] && tools=
for tool in $tools; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORY_BENCH=ON \
        -DQUILLORY_TESTS=OFF -DQUILLORY_REGISTER_GAUGE=OFF >/dev/null
fi
cmake --build "$build" --target quillory-convert make_song stem_ways lossy_check -j2 >/dev/null
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
music=/usr/share/planetblupi/music
lossy_songs=${LOSSY_SONGS:-$music/music004.mid $music/music005.mid $music/music006.mid}

# What the check of lossy files adds, format by format.
lossy_check() {
    mkdir -p "$work/check"
    echo "the check of lossy files, levelled to -16 LUFS; SoundFont $(basename "$soundfont")"
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
    for format in mp3 ogg opus; do
        # shellcheck disable=SC2086
        "$bin/lossy_check" --soundfont "$soundfont" --format "$format" "$work/check" $lossy_songs
    done
    echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
}
if [ "${LOSSY_ONLY:-0}" = 1 ]; then
    lossy_check
    exit 0
fi
mkdir "$work/songs"
for seed in $(seq "$songs"); do
    "$bin/make_song" "$minutes" "$work/songs/song$seed.mid" "$seed"
done
: >"$work/options.ini" # defaults; everything that matters is on the command line

# Prints "wall-seconds cpu-seconds peak-MiB" of one command.
measure() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 ||
        { echo "run.sh: failed: $*" >&2; exit 1; }
    read -r wall user sys kib <"$work/time"
    echo "$wall $(echo "$user + $sys" | bc -l) $((kib / 1024))"
}
ours() { # FORMAT [OPTIONS...]
    local format=$1
    shift
    rm -rf "$work/out" && mkdir "$work/out"
    measure "$bin/quillory-convert" --quiet --jobs 2 --settings "$work/options.ini" \
        --soundfont "$soundfont" --output-dir "$work/out" --format "$format" "$@" \
        "$work"/songs/*.mid
}
theirs() { # ENCODER-COMMAND-TEMPLATE RATE; the template gets IN and OUT
    cat >"$work/theirs.sh" <<SCRIPT
set -e
rm -rf "$work/their" && mkdir "$work/their"
for song in "$work"/songs/*.mid; do
    name=\$(basename "\$song" .mid)
    IN="$work/their/\$name.wav"; OUT="$work/their/\$name"
    $1
done
SCRIPT
    measure bash "$work/theirs.sh"
}
render="fluidsynth -ni -q -g $gain -R 1 -C 1"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
read -r w_wav c_wav _ < <(ours wav)
read -r w_flac c_flac _ < <(ours flac)
read -r w_fsflac c_fsflac _ < <(theirs "$render -r 44100 -O s16 -T flac -F \"\$OUT.flac\" \"$soundfont\" \"\$song\"")
read -r w_ogg c_ogg _ < <(ours ogg)
read -r w_fsogg c_fsogg _ < <(theirs "$render -r 44100 -O s16 -T wav -F \"\$IN\" \"$soundfont\" \"\$song\" && oggenc -Q -q 6 -o \"\$OUT.ogg\" \"\$IN\" && rm \"\$IN\"")
read -r w_opus c_opus _ < <(ours opus)
read -r w_fsopus c_fsopus _ < <(theirs "$render -r 48000 -O s16 -T wav -F \"\$IN\" \"$soundfont\" \"\$song\" && opusenc --quiet --bitrate 128 \"\$IN\" \"\$OUT.opus\" && rm \"\$IN\"")
one=$work/songs/song1.mid
rm -rf "$work/out" && mkdir "$work/out"
read -r w_mix c_mix m_mix < <(measure "$bin/quillory-convert" --quiet --jobs 1 --settings \
    "$work/options.ini" --soundfont "$soundfont" -o "$work/out/mix.wav" "$one")
read -r w_stems c_stems m_stems < <(measure "$bin/quillory-convert" --quiet --jobs 1 --settings \
    "$work/options.ini" --soundfont "$soundfont" -o "$work/out/stems.wav" --stems "$one")
stem_count=$(ls "$work/out/stems.stems" | wc -l)
ways=$("$bin/stem_ways" --soundfont "$soundfont" --threads 2 "$one")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
echo "$songs songs of $minutes min, 16 channels; SoundFont $(basename "$soundfont"); each side run once"
echo "load average before: $load_before, after: $load_after ($(nproc) cores)"
printf '%-52s %9s %9s\n' "" wall cpu
row() { printf '%-52s %8.2fs %8.2fs\n' "$1" "$2" "$3"; }
row "quillory-convert --jobs 2 to WAV" "$w_wav" "$c_wav"
row "quillory-convert --jobs 2 to FLAC" "$w_flac" "$c_flac"
row "fluidsynth -F -T flac, file by file" "$w_fsflac" "$c_fsflac"
row "quillory-convert --jobs 2 to Ogg Vorbis (quality 6)" "$w_ogg" "$c_ogg"
row "fluidsynth -F, then oggenc -q 6" "$w_fsogg" "$c_fsogg"
row "quillory-convert --jobs 2 to Opus (128 kb/s)" "$w_opus" "$c_opus"
row "fluidsynth -F at 48 kHz, then opusenc --bitrate 128" "$w_fsopus" "$c_fsopus"
echo "FLAC / WAV: $(ratio "$w_flac" "$w_wav")x (target at most 1.15x)"
echo "FLAC / fluidsynth -T flac: $(ratio "$w_flac" "$w_fsflac")x (target below 1x)"
echo "Ogg Vorbis / fluidsynth + oggenc: $(ratio "$w_ogg" "$w_fsogg")x (target at most 0.6x)"
echo "Opus / fluidsynth + opusenc: $(ratio "$w_opus" "$w_fsopus")x (target at most 0.6x)"
echo
echo "one song, --jobs 1: the mix $w_mix s (cpu $c_mix s, peak ${m_mix} MiB);"
echo "  with $stem_count stems $w_stems s (cpu $c_stems s, peak ${m_stems} MiB)"
echo "stems / mix: $(ratio "$w_stems" "$w_mix")x (target on 2 cores at most 3x);" \
    "memory beyond the mix: $((m_stems - m_mix)) MiB for $((stem_count - 1)) more synthesisers" \
    "(target at most 16 MiB each)"
echo
echo "$ways"
echo
lossy_check
