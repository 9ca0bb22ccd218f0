#!/usr/bin/env bash
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Proves the Debian package on this machine, as a user would meet it. Run as root (CI does):
#   1. builds the .deb (scripts/build-package.sh, a Release build in build-package/) and checks
# it with lintian (no errors, no warnings) and the metainfo with appstreamcli;
#   2. installs it with apt-get, as the README says, and finds "Open with Quillory" registered
#      for MIDI and WAV files in the desktop's MIME cache (desktop-file-utils' trigger);
#   3. as a new ordinary user with an empty home, who never registered anything:
#      quillory-convert from the PATH turns a MIDI file into an MP3 that sox reads back with the
#      right length and sound, the system's python3 imports the module quillory and renders the
#      same song to an array, and quillory from the PATH, under Xvfb, shows its main window
#      with the progress bar's border drawn (found in a screenshot);
#   4. purges the package and checks that none of its files and no registration is left.
# Each step prints how long it took.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-package}
[ "$(id -u)" -eq 0 ] || { echo "check-package.sh: run it as root" >&2; exit 1; }

user=quillory-pkg-check
home=/home/$user
work=$(mktemp -d)
cleanup() {
    userdel "$user" 2>/dev/null || true
    rm -rf "$home" "$work"
    # A check that failed half-way leaves no package behind either.
    if dpkg-query -W -f='${Status}' quillory 2>/dev/null | grep -qv "not-installed"; then
        apt-get purge -y -qq quillory >/dev/null || true
    fi
}
trap cleanup EXIT

started=$SECONDS
step() {
    echo "check-package: $1 ($((SECONDS - started)) s)"
    started=$SECONDS
}
fail() {
    echo "check-package: FAILED: $*" >&2
    exit 1
}
export DEBIAN_FRONTEND=noninteractive

# Tools for the checks only (building needs what scripts/setup.sh installs).
need=(lintian appstream imagemagick sox libsox-fmt-mp3 python3 xvfb xauth desktop-file-utils)
missing=()
for pkg in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
step "check tools installed"

"$top/scripts/build-package.sh" "$build" | tee "$work/build.log"
deb=$(tail -n 1 "$work/build.log")
[ -f "$deb" ] || fail "no package was built"
step "built $(basename "$deb")"

lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
dpkg-deb --field "$deb" Depends Recommends
step "lintian found no error and no warning"

if dpkg-query -W quillory >/dev/null 2>&1; then
    apt-get purge -y -qq quillory >/dev/null
fi
apt-get install -y -qq "$deb" >/dev/null
dpkg -L quillory | sort >"$work/files"
registry=/usr/share/controls/registry.ini
grep -q "InprocServer=/usr/lib/quillory/libombrel.so" "$registry" ||
    fail "the package did not register Ombrel in $registry"
[ "$(stat -c %a "$registry")" = 644 ] || fail "$registry is not readable by every user"
appstreamcli validate --no-net /usr/share/metainfo/org.quillory.Quillory.metainfo.xml >/dev/null ||
    fail "appstreamcli rejects the installed metainfo"
[ "$(readlink -f /usr/bin/quillory)" = /usr/lib/quillory/quillory ] || fail "/usr/bin/quillory"
mimecache=/usr/share/applications/mimeinfo.cache
for type in audio/midi audio/x-wav; do
    grep -q "^$type=.*quillory.desktop" "$mimecache" || fail "quillory does not open $type files"
done
step "installed with apt-get"

# A user with an empty home, and nothing of the caller's environment.
useradd --no-create-home --home-dir "$home" --shell /bin/sh "$user"
install -d -o "$user" -g "$user" -m 700 "$home"
chmod 755 "$work"
install -d -o "$user" -g "$user" -m 700 "$work/run"
as_user() {
    (cd "$home" && runuser -u "$user" -- env -i HOME="$home" LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$work/run" PATH=/usr/local/bin:/usr/bin:/bin "$@")
}

# Three notes over six quarter notes at 120 beats a minute: 3 seconds of piano.
as_user sh -c 'printf "MThd\000\000\000\006\000\000\000\001\000\140MTrk\000\000\000\040\000\300\000\000\220\074\144\140\200\074\100\000\220\100\144\140\200\100\100\000\220\103\144\203\000\200\103\100\000\377\057\000" >song.mid'
as_user quillory-convert --version | grep -qx "quillory-convert 2.0" || fail "quillory-convert --version"
as_user quillory-convert song.mid -o song.mp3 || fail "quillory-convert song.mid -o song.mp3"
seconds=$(soxi -D "$home/song.mp3")
rate=$(soxi -r "$home/song.mp3")
peak=$(sox "$home/song.mp3" -n stat 2>&1 | awk '/Maximum amplitude/ { print $3 }')
echo "song.mp3: $seconds s at $rate Hz, peak $peak"
awk -v s="$seconds" -v p="$peak" 'BEGIN { exit !(s >= 3.0 && s < 8.0 && p > 0.01) }' ||
    fail "song.mp3 is not 3 to 8 seconds of sound"
[ "$rate" = 44100 ] || fail "song.mp3 is not at 44100 Hz"
step "quillory-convert made an MP3 as a new user"

# The module from the system's Python, as a user of it meets it: the program's SoundFont, and
# the effect plugin found beside the module through its link to the program folder.
as_user /usr/bin/python3 -c '
import quillory
song = quillory.Renderer().render("song.mid")
seconds = song.audio.shape[0] / song.rate
print("python: %.2f s at %d Hz, %d notes, peak %.3f, %s" % (seconds, song.rate, len(song.labels),
      abs(song.audio).max(), quillory.Renderer().soundfonts))
assert song.audio.shape[1] == 2 and 3.0 <= seconds < 8.0 and abs(song.audio).max() > 0.01
assert len(song.labels) == 3
import os
plugin = os.path.join(os.path.dirname(quillory.__file__), "quillory-effect-share.so")
assert os.path.realpath(plugin) == "/usr/lib/quillory/quillory-effect-share.so", plugin
' || fail "python3 -c 'import quillory' could not render song.mid"
step "the Python module rendered the song as a new user"

# The main window under Xvfb; screenshots until the progress bar's border shows, 60 s at most.
cat >"$work/bar.py" <<'EOF'
# Exit 0 when the screenshot (PPM) shows the progress bar that Ombrel draws on the main window:
# its frame in the border colour 0x8080FF at (16, 176), 345 x 21 pixels from the window's
# top-left corner (the first pixel that is not the black of the empty screen), and red
# percentage text inside. The window's own frames share that colour, so only the place and
# the text tell the control's frame from them.
import sys

data = open(sys.argv[1], "rb").read()
fields, pos = [], 0
while len(fields) < 4:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
width, height = int(fields[1]), int(fields[2])
pixels = data[pos + 1:]


def at(x, y):
    i = (y * width + x) * 3
    return tuple(pixels[i:i + 3])


corner = next(((x, y) for y in range(height) for x in range(width) if at(x, y) != (0, 0, 0)),
              None)
if corner is None:
    sys.exit(1)
left, top = corner[0] + 16, corner[1] + 176
right, bottom = left + 344, top + 20
if right >= width or bottom >= height:
    sys.exit(1)
border = (0x80, 0x80, 0xFF)
frame = [(x, y) for x in range(left, right + 1) for y in (top, bottom)]
frame += [(x, y) for y in range(top, bottom + 1) for x in (left, right)]
framed = all(at(x, y) == border for x, y in frame)
text = any(r > 200 and g < 100 and b < 100
           for r, g, b in (at(x, y) for x in range(left + 1, right) for y in range(top + 1, bottom)))
sys.exit(0 if framed and text else 1)
EOF
chmod 644 "$work/bar.py"
cat >"$work/show.sh" <<EOF
quillory &
program=\$!
for i in \$(seq 60); do
    sleep 1
    kill -0 \$program 2>/dev/null || { echo "quillory ended early"; exit 1; }
    import -window root -depth 8 ppm:"$home/shot.ppm" 2>/dev/null || continue
    if python3 "$work/bar.py" "$home/shot.ppm"; then
        import -window root "$home/shot.png"
        kill \$program
        exit 0
    fi
done
import -window root "$home/shot.png"
kill \$program
exit 1
EOF
chmod 644 "$work/show.sh"
as_user xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/show.sh" ||
    { cp "$home/shot.png" "$build/check-package-shot.png" 2>/dev/null || true
      fail "no progress bar on quillory's window (screenshot: $build/check-package-shot.png)"; }
cp "$home/shot.png" "$build/check-package-shot.png"
[ ! -e "$home/.local/share/controls" ] || fail "the user's own control registry was needed"
step "quillory showed its progress bar to a new user"

apt-get purge -y -qq quillory >/dev/null
left=()
while read -r path; do
    case "$path" in
    # Folders of the package's own go with it; shared ones (/usr/bin) stay.
    /usr/lib/quillory* | /usr/share/doc/quillory*) [ ! -e "$path" ] || left+=("$path") ;;
    *) if [ -L "$path" ] || { [ -e "$path" ] && [ ! -d "$path" ]; }; then left+=("$path"); fi ;;
    esac
done <"$work/files"
[ ${#left[@]} -eq 0 ] || fail "purged, but left: ${left[*]}"
if [ -e "$registry" ] && grep -qi "ombrel" "$registry"; then
    fail "purged, but Ombrel is still registered in $registry"
fi
if grep -q "quillory.desktop" "$mimecache" 2>/dev/null; then
    fail "purged, but $mimecache still offers quillory"
fi
step "purged without a trace"
echo "check-package: the package installs, works for a new user and purges cleanly"
