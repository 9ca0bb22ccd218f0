#!/bin/sh
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# WAV to MP3 speed of the encoder engine against the lame command on the same file, at constant
# 128 kb/s and at variable 32-320 kb/s with the same settings on both sides. Prints the best of
# several runs, as wall time and as CPU time (user + system, steadier on a busy machine), and the
# speed ratio lame's time / ours: 1.00 is as fast as lame, above 1 faster.
#
# Needs the Debian packages lame (the reference command) and time (/usr/bin/time), and a
# configured build directory:
#   BUILD=/work/build-encoder SECONDS_OF_AUDIO=300 RUNS=5 bench/encoder/run.sh
set -eu

BUILD=${BUILD:-/work/build-encoder}
SECONDS_OF_AUDIO=${SECONDS_OF_AUDIO:-300}
RUNS=${RUNS:-5}

for tool in lame /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing (apt-get install lame time)" >&2; exit 1; }
done
cmake --build "$BUILD" --target encoder_bench >/dev/null
bench="$BUILD/bin/encoder_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" make-wav "$work/song.wav" "$SECONDS_OF_AUDIO"

# measure NAME COMMAND...: appends "NAME wall user system" for one run to $work/raw
measure() {
    name=$1
    shift
    /usr/bin/time -f "$name %e %U %S" -a -o "$work/raw" "$@" >/dev/null 2>&1
}

# Runs alternate between the two sides so that a busy spell hits both alike.
i=0
while [ "$i" -lt "$RUNS" ]; do
    measure ours_cbr "$bench" encode --cbr 128 --mode 0 "$work/song.wav" "$work/ours.mp3"
    measure lame_cbr lame --quiet -m s -b 128 "$work/song.wav" "$work/lame.mp3"
    measure ours_vbr "$bench" encode --vbr 32-320 --mode 0 "$work/song.wav" "$work/ours.mp3"
    measure lame_vbr lame --quiet -m s -V 2 -b 32 -B 320 -F "$work/song.wav" "$work/lame.mp3"
    i=$((i + 1))
done

printf '%s s of 44100 Hz 16-bit stereo, stereo mode, best of %s runs\n' "$SECONDS_OF_AUDIO" "$RUNS"
awk '
    { wall = $2; cpu = $3 + $4
      if (!($1 in bw) || wall < bw[$1]) bw[$1] = wall
      if (!($1 in bc) || cpu < bc[$1]) bc[$1] = cpu }
    END {
        printf "%-14s %9s %9s %7s   %9s %9s %7s\n", "case", "ours", "lame", "ratio", "ours cpu", "lame cpu", "ratio"
        split("cbr vbr", kinds, " ")
        split("CBR 128|VBR 32-320 -V2", labels, "|")
        for (k = 1; k <= 2; k++) {
            o = "ours_" kinds[k]; l = "lame_" kinds[k]
            printf "%-14s %8.2fs %8.2fs %7.2f   %8.2fs %8.2fs %7.2f\n", labels[k], bw[o], bw[l], bw[l] / bw[o], bc[o], bc[l], bc[l] / bc[o]
        }
    }' "$work/raw"
