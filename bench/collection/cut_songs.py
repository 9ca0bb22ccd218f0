#!/usr/bin/env python3
# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Cuts short songs out of long MIDI files, for the collection bench: COUNT pieces of SECONDS
each, taken in turn from the songs given, each starting where the last piece of its song ended.
A piece keeps the channel state its song had where it starts (programs, controllers, bends,
SysEx, tempo), and every note still sounding at its end is let go there.
    cut_songs.py OUT_DIR COUNT SECONDS SONG.mid...
"""
import os
import struct
import sys


def read_vlq(data, i):
    value = 0
    while True:
        b = data[i]
        i += 1
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            return value, i


def vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)


def events(path):
    """(tick, order, message bytes) of every track, merged; the division."""
    data = open(path, "rb").read()
    if data[:4] == b"RIFF":
        data = data[data.index(b"MThd"):]
    _, _, ntracks, division = struct.unpack(">IHHH", data[4:14])
    i, merged, order = 14, [], 0
    for _ in range(ntracks):
        length = struct.unpack(">I", data[i + 4:i + 8])[0]
        j, end, tick, status = i + 8, i + 8 + length, 0, 0
        while j < end:
            delta, j = read_vlq(data, j)
            tick += delta
            if data[j] & 0x80:
                status = data[j]
                j += 1
            if status == 0xFF:
                kind = data[j]
                size, k = read_vlq(data, j + 1)
                message = bytes([0xFF, kind]) + vlq(size) + data[k:k + size]
                j = k + size
            elif status in (0xF0, 0xF7):
                size, k = read_vlq(data, j)
                message = bytes([status]) + vlq(size) + data[k:k + size]
                j = k + size
            else:
                size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
                message = bytes([status]) + data[j:j + size]
                j += size
            merged.append((tick, order, message))
            order += 1
        i = end
    merged.sort()
    return merged, division


def seconds_of(merged, division):
    """A function from tick to seconds, through the song's tempo map."""
    changes = [(0, 0.0, 500000)]
    for tick, _, m in merged:
        if m[0] == 0xFF and m[1] == 0x51:
            t0, s0, tempo = changes[-1]
            changes.append((tick, s0 + (tick - t0) * tempo / 1e6 / division,
                            int.from_bytes(m[3:6], "big")))

    def at(tick):
        t0, s0, tempo = max((c for c in changes if c[0] <= tick), key=lambda c: c[0])
        return s0 + (tick - t0) * tempo / 1e6 / division
    return at


def piece(merged, division, at, start, length):
    """A format-0 file of the song from `start` seconds for `length`."""
    out, sounding, first, last = [], set(), None, None
    for tick, _, m in merged:
        s = at(tick)
        if s >= start + length:
            last = tick
            break
        kind = m[0] & 0xF0
        is_note = kind in (0x80, 0x90)
        if s < start:
            if not is_note and not (m[0] == 0xFF and m[1] == 0x2F):
                out.append((0, m))
            continue
        first = tick if first is None else first
        if kind == 0x90 and m[2] > 0:
            sounding.add((m[0] & 0x0F, m[1]))
        elif is_note:
            sounding.discard((m[0] & 0x0F, m[1]))
        if not (m[0] == 0xFF and m[1] == 0x2F):
            out.append((tick, m))
    if first is None:
        return None
    base = first
    end = last if last is not None else max(t for t, _ in out)
    track, now = b"", 0
    for tick, m in out:
        tick = max(tick - base, 0)
        track += vlq(tick - now) + m
        now = tick
    for channel, key in sorted(sounding):
        track += vlq(max(end - base, now) - now) + bytes([0x80 | channel, key, 0])
        now = max(end - base, now)
    track += b"\x00\xFF\x2F\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, division) + \
        b"MTrk" + struct.pack(">I", len(track)) + track


def main():
    folder, count, length, songs = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4:]
    os.makedirs(folder, exist_ok=True)
    parsed = []
    for path in songs:
        merged, division = events(path)
        parsed.append((os.path.splitext(os.path.basename(path))[0], merged, division,
                       seconds_of(merged, division)))
    made, start = 0, 0.0
    while made < count:
        progress = False
        for name, merged, division, at in parsed:
            data = piece(merged, division, at, start, length)
            if data is None:
                continue
            progress = True
            with open(os.path.join(folder, f"{name}-{int(start):05d}.mid"), "wb") as f:
                f.write(data)
            made += 1
            if made == count:
                return
        if not progress:
            sys.exit("cut_songs.py: the songs are too short for %d pieces" % count)
        start += length


main()
