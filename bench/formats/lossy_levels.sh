#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# What the lossy files hold once decoded, judged by ffmpeg's own meter (ebur128 with true peak),
# not by ours: converts the real songs (Debian's planetblupi-music-midi) with quillory-convert to
# MP3, Ogg Vorbis and Opus at their default settings, levelled to -16 LUFS, and prints every
# file's integrated loudness and true peak, then per format the lowest and highest loudness, the
# highest true peak and how many files miss the promise: -16 +-0.5 LUFS unless the true peak
# (at most -1 dBTP) holds the level down, and then within 0.5 dB of -1 dBTP.
# Needs ffmpeg, planetblupi-music-midi and fluid-soundfont-gm beyond the build's own packages.
# Not run by CI.
#   bench/formats/lossy_levels.sh [QUILLORY-CONVERT]    SOUNDFONT=/path/to.sf2 SONGS="a.mid b.mid"
#       FORMATS="mp3 ogg opus"
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
convert=${1:-$top/build/bin/quillory-convert}
soundfont=${SOUNDFONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
songs=${SONGS:-$(ls /usr/share/planetblupi/music/*.mid)}
for tool in ffmpeg "$convert"; do
    command -v "$tool" >/dev/null || { echo "lossy_levels.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/options.ini"

# Prints "LUFS dBTP" of a file as ffmpeg decodes and measures it: the integrated loudness and
# the true peak so far that the filter gives every frame, the last of them, which are finer than
# its summary's tenths.
level() {
    ffmpeg -v error -nostats -i "$1" \
        -af ebur128=peak=true:dualmono=true:metadata=1,ametadata=mode=print:file=- -f null - |
        awk -F= '/^lavfi.r128.I=/ { lufs = $2 }
                 /^lavfi.r128.true_peak=/ { peak = $2 }
                 END { print lufs, 20 * log(peak) / log(10) }'
}

for format in ${FORMATS:-mp3 ogg opus}; do
    mkdir -p "$work/$format"
    # shellcheck disable=SC2086
    "$convert" --quiet --settings "$work/options.ini" --soundfont "$soundfont" --loudness -16 \
        --output-dir "$work/$format" --format "$format" $songs
    for file in "$work/$format"/*; do
        read -r lufs peak < <(level "$file")
        echo "$format $(basename "$file") $lufs $peak"
    done
done | tee "$work/levels" | awk '{ printf "%-5s %-16s %7.2f LUFS %7.2f dBTP\n", $1, $2, $3, $4 }'
echo
awk '{
        f = $1; l = $3; p = $4; n[f]++
        if (!(f in lo) || l < lo[f]) lo[f] = l
        if (!(f in hi) || l > hi[f]) hi[f] = l
        if (!(f in top) || p > top[f]) top[f] = p
        held = l < -16.5 && p >= -1.5
        if (p > -1.0 || (l < -16.5 && !held) || l > -15.5) miss[f]++
    }
    END {
        for (f in n)
            printf "%-5s %2d files: %7.2f to %7.2f LUFS, true peak up to %6.2f dBTP, %d missing\n",
                f, n[f], lo[f], hi[f], top[f], miss[f]
    }' "$work/levels" | sort
