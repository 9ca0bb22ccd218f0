#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the same outputs with a build's binaries, from the window's way and from quillory-convert,
# and lists their checksums, so that two builds (before and after a change that should change no
# sound) can be compared byte for byte:
#   scripts/compare-outputs.sh BUILD_DIR OUT_DIR [SOUNDFONT]
#   diff OUT_A/sums.txt OUT_B/sums.txt
# Needs a build with the tests and the benches (render_child, encode_child, window_mp3), and
# Debian's planetblupi-music-midi for five real songs.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
soundfont=${3:-/usr/share/sounds/sf2/TimGM6mb.sf2}
bin=$build/bin
songs=/usr/share/planetblupi/music
mkdir -p "$out/window" "$out/convert" "$out/work"
out=$(cd "$out" && pwd)
settings=$out/options.ini
printf '[Renderer]\nSoundFont=%s\n' "$soundfont" >"$settings"
export XDG_CACHE_HOME=$out/cache

for n in 000 003 004 006 009; do
    song=$songs/music$n.mid
    # The window's way: its renderer to a 16-bit WAV, its encoder to an MP3 as the encoding
    # stage runs them, and the WAV-to-MP3 tool's encoder on a WAV.
    "$bin/render_child" "$song" "$out/window/$n.wav" 44100 "$soundfont" >/dev/null
    "$bin/window_mp3" "$soundfont" "$song" "$out/work" "$out/window/$n.mp3" >/dev/null
    "$bin/encode_child" "$out/window/$n.wav" "$out/window/$n-wav2mp3.mp3" >/dev/null
    # quillory-convert: WAV, FLAC and MP3, stems, and WAV to MP3.
    conv=("$bin/quillory-convert" --quiet --settings "$settings" --soundfont "$soundfont")
    "${conv[@]}" "$song" -o "$out/convert/$n.wav" --bits 16
    "${conv[@]}" "$song" -o "$out/convert/$n.flac"
    "${conv[@]}" "$song" -o "$out/convert/$n.mp3"
    "${conv[@]}" "$out/window/$n.wav" -o "$out/convert/$n-wav2mp3.mp3"
done
"${conv[@]}" "$songs/music003.mid" -o "$out/convert/stems.flac" --stems
(cd "$out" && find window convert -type f \( -name '*.wav' -o -name '*.flac' -o -name '*.mp3' \) \
    -print0 | sort -z | xargs -0 sha256sum) >"$out/sums.txt"
wc -l <"$out/sums.txt"
