#!/bin/sh
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's commands for a collection, run as written on generated songs: GNU Parallel with four
# shards here, each input converted once; a shard killed with kill -9 and resumed, nothing done
# twice; the Slurm script with an array task's variables set by hand; jq finding the failure.
#   collection.sh BIN_DIR README SOUNDFONT
set -eu
bin=$1 readme=$2 soundfont=$3
for tool in parallel jq python3; do command -v $tool >/dev/null || { echo "no $tool"; exit 77; }; done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "collection.sh: $*" >&2; exit 1; }

# quillory-convert on the PATH, playing the tests' small SoundFont with default settings.
mkdir wrap
printf '#!/bin/sh\nexec "%s/quillory-convert" --settings "%s/options.ini" --soundfont "%s" "$@"\n' \
    "$bin" "$work" "$soundfont" >wrap/quillory-convert
chmod +x wrap/quillory-convert
: >options.ini
export PATH="$work/wrap:$PATH"

# The README's Nth code block of its section "Rendering a collection".
block() {
    awk -v n="$1" '/^## Rendering a collection/ { on = 1 } /^## Benchmarks/ { on = 0 }
        on && /^```/ { if (open) { open = 0; take = 0 } else { open = 1; k++; take = (k == n) }
                       next }
        on && take' "$readme"
}

# Sixteen songs of a few seconds in two folders, and one file that is no MIDI file.
python3 - <<'PY'
import os, struct
for i in range(16):
    folder = "midi/a" if i < 8 else "midi/b/c"
    os.makedirs(folder, exist_ok=True)
    track = bytes([0, 0xC0, i * 7 % 128])
    for step in range(24):
        key = 48 + (i + step * 5) % 24
        track += bytes([0, 0x90, key, 100, 48, 0x80, key, 0])
    track += bytes([0, 0xFF, 0x2F, 0])
    with open(f"{folder}/song{i:02}.mid", "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)
PY
printf 'MThd not really' >midi/a/broken.mid
songs=16

# The one machine's list, each path once however it is spelled.
block 1 | head -n 2 >make-list.sh
sh make-list.sh
head -n 2 list.txt | sed 's|^|./|' >>list.txt

# What became of every input in the reports: "status input", one line per report line.
endings() { cat out/report*.jsonl | jq -r '"\(.status) \(.input)"' | sort; }
count() { endings | grep -c "^$1 " || true; }

# GNU Parallel, four shards on this machine.
printf ':\n:\n:\n:\n' >hosts.txt
block 2 >parallel.sh
sh parallel.sh 2>parallel.err || true
[ "$(count ok)" = $songs ] || fail "parallel: $(count ok) of $songs converted: $(endings)"
[ "$(endings | cut -d' ' -f2 | sort -u | wc -l)" = $((songs + 1)) ] || fail "an input twice: $(endings)"
[ "$(find out -name '*.flac' | wc -l)" = $songs ] || fail "outputs: $(find out)"
[ -f out/b/c/song08.flac ] || fail "the tree is not kept: $(find out)"
for k in 0 1 2 3; do [ -s out/report-$k.jsonl ] || fail "shard $k wrote no report"; done

# The failures and the counts, as the README finds them.
[ "$(block 4 | head -n 3 | sh)" = "$(printf 'midi/a/broken.mid\t')$(jq -r 'select(.status=="failed") | .error' out/report*.jsonl)" ] ||
    fail "jq failures: $(block 4 | head -n 3 | sh)"
[ "$(block 4 | sed -n 7,9p | sh | jq -c .)" = "{\"done\":$songs,\"failed\":1}" ] ||
    fail "jq counts: $(block 4 | sed -n 7,9p | sh)"

# One shard killed half-way, then resumed: everything complete, nothing converted twice.
rm -rf out
set -- --quiet --jobs 1 --files-from list.txt --output-dir out --format flac --keep-tree midi \
    --resume --shard 1/2 --report out/report-1.jsonl
quillory-convert "$@" 2>/dev/null &
pid=$!
while [ "$(cat out/report-1.jsonl 2>/dev/null | wc -l)" -lt 3 ] && kill -0 $pid 2>/dev/null; do
    sleep 0.02
done
kill -9 $pid 2>/dev/null || fail "the shard ended before it could be killed"
wait $pid 2>/dev/null || true
before=$(count ok)
[ "$before" -lt $((songs / 2)) ] || fail "the shard was killed after its end"
quillory-convert "$@" 2>/dev/null || fail "resumed: $(endings)"
[ "$(find out -name '*.flac' | wc -l)" = $((songs / 2)) ] || fail "resumed: $(find out)"
[ -z "$(endings | grep '^ok ' | uniq -d)" ] || fail "converted twice: $(endings)"
[ "$(count skipped)" -ge "$before" ] || fail "resumed: not every file done is skipped: $(endings)"
[ -z "$(find out -name '*.part')" ] || fail "a .part file is left: $(find out -name '*.part')"
# The count after a resume: what an earlier run converted and this one skipped is done.
[ "$(block 4 | sed -n 7,9p | sh | jq -r '.done')" = $((songs / 2)) ] ||
    fail "jq counts after the resume: $(block 4 | sed -n 7,9p | sh)"

# The Slurm script, as three tasks of an array see it.
rm -rf out
block 3 >render.sh
for task in 0 1 2; do
    SLURM_ARRAY_JOB_ID=7 SLURM_ARRAY_TASK_ID=$task SLURM_ARRAY_TASK_COUNT=3 \
        SLURM_ARRAY_TASK_MIN=0 SLURM_ARRAY_TASK_MAX=2 bash render.sh 2>/dev/null || true
done
[ "$(count ok)" = $songs ] || fail "slurm: $(endings)"
[ "$(endings | cut -d' ' -f2 | sort -u | wc -l)" = $((songs + 1)) ] || fail "slurm: $(endings)"

# Without a report, --resume judges by length: an output that is no sound file is made again,
# the rest are left.
rm out/report*.jsonl
echo damaged >out/a/song03.flac
block 1 | tail -n 2 | sh 2>/dev/null || true
[ "$(count skipped)" = $((songs - 1)) ] || fail "by length: $(endings)"
[ "$(endings | grep '^ok ')" = "ok midi/a/song03.mid" ] || fail "by length: $(endings)"
