# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every failure a user can cause is an exception with the converter's message, never a crash:
bad songs (the fuzz corpus and every cut of it included), missing files, bad SoundFonts and
settings."""
import errno
import os
import pathlib

import pytest

import quillory
from conftest import SOUNDFONT, TOP, midi, notes

CORPUS = pathlib.Path(TOP) / "fuzz" / "midi"


def test_every_corpus_file_and_cut_ends_in_a_result_or_an_exception():
    renderer = quillory.Renderer(SOUNDFONT, loudness=None, max_seconds=60)
    inputs = sorted(CORPUS.glob("corpus/*")) + sorted(CORPUS.glob("crashes/*"))
    assert len(inputs) >= 10
    outcomes = set()
    for path in inputs:
        data = path.read_bytes()
        for cut in sorted({len(data), *range(0, len(data), max(1, len(data) // 12))}):
            try:
                renderer.render(data[:cut], labels=cut % 2 == 0)
                outcomes.add("ok")
            except quillory.MidiError as error:
                assert "<bytes>" in str(error)
                outcomes.add("midi")
            except quillory.Error:
                outcomes.add("error")
    assert {"ok", "midi"} <= outcomes


@pytest.mark.parametrize("song,kind,text", [
    (b"", quillory.MidiError, "the file is empty"),
    (b"MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x10\0\x90", quillory.MidiError, "byte"),
    (midi([(0, b"\xB0\x07\x64")]), quillory.Error, "renders to silence"),
    (midi(notes(0, [60], length=96 * 2 * 100)), quillory.Error, "longer than max_seconds"),
])
def test_bad_songs_raise_the_converters_message(song, kind, text):
    renderer = quillory.Renderer(SOUNDFONT, max_seconds=30)
    with pytest.raises(kind, match=text):
        renderer.render(song)


def test_files_that_cannot_be_opened_raise_oserror(renderer, tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        renderer.render(tmp_path / "missing.mid")
    assert missing.value.filename == str(tmp_path / "missing.mid")
    with pytest.raises(IsADirectoryError):
        renderer.render(tmp_path)
    with pytest.raises(FileNotFoundError):
        quillory.Renderer(tmp_path / "missing.sf2")
    if os.geteuid() != 0:
        locked = tmp_path / "locked.mid"
        locked.write_bytes(midi(notes(0, [60])))
        locked.chmod(0)
        with pytest.raises(PermissionError) as refused:
            renderer.render(locked)
        assert refused.value.errno == errno.EACCES
    with pytest.raises(TypeError):
        renderer.render(12)


def test_bad_soundfonts_and_settings(tmp_path):
    broken = tmp_path / "broken.sf2"
    broken.write_bytes(b"RIFF\4\0\0\0sfbk")
    with pytest.raises(quillory.SoundFontError, match="broken.sf2"):
        quillory.Renderer(broken)
    for settings in (dict(rate=1000), dict(channels=3), dict(loudness=-40), dict(soundfont=[])):
        with pytest.raises(ValueError):
            quillory.Renderer(**{"soundfont": SOUNDFONT, **settings})


def test_a_failed_song_in_a_batch(renderer, tmp_path):
    good = midi(notes(0, [60]))
    results = list(renderer.render_many([good, b"junk", good], errors="yield"))
    assert isinstance(results[1], quillory.MidiError) and results[0].audio.size > 0
    many = renderer.render_many([good, b"junk", good])
    next(many)
    with pytest.raises(quillory.MidiError):
        next(many)
    assert list(many) == []
