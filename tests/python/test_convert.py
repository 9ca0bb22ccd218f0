# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""quillory.convert makes the file quillory-convert makes, and fails for the same reasons with
the exceptions Renderer.render raises."""
import os

import numpy as np
import pytest

import quillory
from conftest import SOUNDFONT, convert, midi, notes, read_float_wav


@pytest.fixture
def song(tmp_path):
    path = tmp_path / "song.mid"
    path.write_bytes(midi(notes(0, [60, 64]) + notes(33, [36, 43], channel=1)))
    return path


def test_a_conversion_is_the_command_lines(renderer, tmp_path, song):
    ours, theirs = tmp_path / "ours.flac", tmp_path / "theirs.flac"
    assert quillory.convert(song, ours, soundfont=SOUNDFONT, bits=24, stems=True,
                            labels=True) == ""
    convert(str(song), "-o", str(theirs), "--soundfont", SOUNDFONT, "--bits", "24", "--stems",
            "--labels")
    assert ours.read_bytes() == theirs.read_bytes()
    assert sorted(os.listdir(tmp_path / "ours.stems")) == ["01 Acoustic Grand Piano.flac",
                                                           "01 Acoustic Grand Piano.labels.tsv",
                                                           "02 Electric Bass (finger).flac",
                                                           "02 Electric Bass (finger).labels.tsv"]
    assert (tmp_path / "ours.labels.tsv").read_text() == (tmp_path / "theirs.labels.tsv").read_text()
    wav = tmp_path / "song.wav"
    quillory.convert(song, wav, soundfont=SOUNDFONT, bits="32f", loudness=None)
    assert np.array_equal(read_float_wav(wav),
                          quillory.Renderer(SOUNDFONT, loudness=None).render(song).audio)


def test_failures_raise_what_render_raises(tmp_path, song):
    out = tmp_path / "out.wav"
    with pytest.raises(FileNotFoundError):
        quillory.convert(tmp_path / "missing.mid", out, soundfont=SOUNDFONT)
    (tmp_path / "bad.mid").write_bytes(b"MThd junk")
    with pytest.raises(quillory.MidiError, match="bad.mid"):
        quillory.convert(tmp_path / "bad.mid", out, soundfont=SOUNDFONT)
    (tmp_path / "bad.sf2").write_bytes(b"RIFF junk")
    with pytest.raises(quillory.SoundFontError):
        quillory.convert(song, out, soundfont=tmp_path / "bad.sf2")
    with pytest.raises(FileNotFoundError):
        quillory.convert(song, out, soundfont=tmp_path / "none.sf2")
    with pytest.raises(ValueError, match="rate"):
        quillory.convert(song, out, soundfont=SOUNDFONT, rate=5)
    with pytest.raises(ValueError):
        quillory.convert(song, tmp_path / "out.xyz", soundfont=SOUNDFONT)
    with pytest.raises(TypeError):
        quillory.convert(song, out, jobs=2)
    silent = tmp_path / "silent.mid"
    silent.write_bytes(midi([(0, b"\xB0\x07\x64")]))
    with pytest.raises(quillory.Error, match="renders to silence"):
        quillory.convert(silent, out, soundfont=SOUNDFONT)
    assert not out.exists()
    out.write_bytes(b"keep")
    with pytest.raises(FileExistsError):
        quillory.convert(song, out, soundfont=SOUNDFONT)
    assert out.read_bytes() == b"keep"
    quillory.convert(song, out, soundfont=SOUNDFONT, force=True)
    assert out.read_bytes()[:4] == b"RIFF"
