# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""What the module's tests share: the built quillory-convert to compare with, small songs and
SoundFonts made on the spot, and a reader of 32-bit float WAVs that keeps every bit."""
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import quillory

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CONVERT = os.path.join(os.environ.get("QUILLORY_BIN", os.path.join(TOP, "build", "bin")),
                       "quillory-convert")
SOUNDFONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
REAL_SONGS = "/usr/share/planetblupi/music"


def vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)


def midi(events, division=96):
    """A format 0 file of (delta ticks, message bytes) at 120 beats a minute."""
    track = b"".join(vlq(d) + m for d, m in events) + b"\x00\xFF\x2F\x00"
    return (b"MThd" + struct.pack(">IHHH", 6, 0, 1, division) + b"MTrk" +
            struct.pack(">I", len(track)) + track)


def notes(program, keys, channel=0, length=48):
    """A program change, then each key for `length` ticks, one after the other."""
    events = [(0, bytes([0xC0 | channel, program]))]
    for key in keys:
        events += [(0, bytes([0x90 | channel, key, 100])), (length, bytes([0x80 | channel, key, 0]))]
    return events


def sf2(presets):
    """A SoundFont of looped one-cycle waves: presets is a list of (program, name, wave), wave a
    function from phase (0 to 1) to a level (-1 to 1). Each preset has an instrument and a
    sample of its own; a period of 100 samples at 44100 Hz is about A4 (69)."""
    def chunk(tag, body):
        return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")

    def listed(tag, *chunks):
        return chunk(b"LIST", tag + b"".join(chunks))

    def name(text):
        return text.encode()[:19].ljust(20, b"\0")

    smpl, shdr, phdr, pbag, pgen, inst, ibag, igen = (b"",) * 8
    for i, (program, title, wave) in enumerate(presets):
        start = len(smpl) // 2
        cycle = [int(30000 * wave(k / 100)) for k in range(100)]
        smpl += struct.pack("<%dh" % 2000, *(cycle * 20)) + b"\0" * 92
        shdr += name(title) + struct.pack("<IIIIIBbHH", start, start + 2000, start + 100,
                                          start + 1900, 44100, 69, 0, 0, 1)
        phdr += name(title) + struct.pack("<HHHIII", program, 0, i, 0, 0, 0)
        pbag += struct.pack("<HH", i, 0)
        pgen += struct.pack("<HH", 41, i)                # instrument
        inst += name(title) + struct.pack("<H", i)
        ibag += struct.pack("<HH", 2 * i, 0)
        igen += struct.pack("<HHHH", 54, 1, 53, i)       # looped, sample
    n = len(presets)
    phdr += name("EOP") + struct.pack("<HHHIII", 0, 0, n, 0, 0, 0)
    pbag += struct.pack("<HH", n, 0)
    pgen += b"\0" * 4
    inst += name("EOI") + struct.pack("<H", n)
    ibag += struct.pack("<HH", 2 * n, 0)
    igen += b"\0" * 4
    shdr += name("EOS") + b"\0" * 26
    info = listed(b"INFO", chunk(b"ifil", struct.pack("<HH", 2, 1)),
                  chunk(b"isng", b"EMU8000\0"), chunk(b"INAM", b"test\0\0"))
    pdta = listed(b"pdta", chunk(b"phdr", phdr), chunk(b"pbag", pbag),
                  chunk(b"pmod", b"\0" * 10), chunk(b"pgen", pgen), chunk(b"inst", inst),
                  chunk(b"ibag", ibag), chunk(b"imod", b"\0" * 10), chunk(b"igen", igen),
                  chunk(b"shdr", shdr))
    return chunk(b"RIFF", b"sfbk" + info + listed(b"sdta", chunk(b"smpl", smpl)) + pdta)


def read_float_wav(path):
    """The samples of a 32-bit float WAV as (frames, channels), bit for bit."""
    data = open(path, "rb").read()
    pos, channels = 12, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            kind, channels = struct.unpack("<HH", data[pos + 8:pos + 12])
            assert kind in (3, 0xFFFE), "not a float WAV"
        if tag == b"data":
            return np.frombuffer(data[pos + 8:pos + 8 + size], dtype="<f4").reshape(-1, channels)
        pos += 8 + size + (size & 1)
    raise AssertionError(f"{path} has no data chunk")


def convert(*args, check=True):
    """quillory-convert with no settings file of the user's."""
    settings = os.path.join(os.environ.get("TMPDIR", "/tmp"), "quillory-empty-options.ini")
    open(settings, "w").close()
    run = subprocess.run([CONVERT, "--quiet", "--settings", settings, *args],
                         capture_output=True, text=True)
    if check:
        assert run.returncode == 0, run.stderr
    return run


def excerpt(tmp_path, song, seconds=6, count=1):
    """Short pieces of a real song, cut as the collection bench cuts them."""
    subprocess.run([sys.executable, os.path.join(TOP, "bench", "collection", "cut_songs.py"),
                    str(tmp_path), str(count), str(seconds), os.path.join(REAL_SONGS, song)],
                   check=True)
    return sorted(str(p) for p in tmp_path.glob("*.mid"))


@pytest.fixture(scope="session")
def renderer():
    return quillory.Renderer(SOUNDFONT)
