# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""A song rendered from Python is the song quillory-convert --bits 32f writes, sample for sample,
and its labels are the ones --labels writes, whatever way the song is handed over and whatever
the renderer played before."""
import csv

import numpy as np
import pytest

import quillory
from conftest import SOUNDFONT, convert, excerpt, midi, notes, read_float_wav


def cli(song, tmp_path, *options):
    out = tmp_path / "cli.wav"
    convert(song, "-o", str(out), "--bits", "32f", "--soundfont", SOUNDFONT, "--labels", "--force",
            *options)
    with open(tmp_path / "cli.labels.tsv") as f:
        labels = list(csv.DictReader(f, delimiter="\t"))
    return read_float_wav(out), labels


def assert_same_labels(ours, theirs):
    assert len(ours) == len(theirs)
    for row, line in zip(ours, theirs):
        for field in ("onset_sample", "offset_sample", "key", "velocity", "channel", "bank",
                      "program", "key_offset_sample", "sound_end_sample"):
            assert int(row[field]) == int(line[field]), field
        for field in ("onset_seconds", "offset_seconds", "frequency_hz"):
            assert row[field] == pytest.approx(float(line[field]), abs=1e-4), field
        assert row["silent"] == line["silent"]


@pytest.mark.parametrize("song", ["music001.mid", "music004.mid"])
def test_real_songs_equal_the_command_line(renderer, tmp_path, song):
    (piece,) = excerpt(tmp_path / "cut", song)
    audio, labels = cli(piece, tmp_path)
    result = renderer.render(piece)
    assert result.audio.dtype == np.float32 and result.audio.shape == audio.shape
    assert np.array_equal(result.audio, audio)
    assert len(labels) > 10
    assert_same_labels(result.labels, labels)
    assert result.loudness.integrated_lufs + result.loudness.gain_db <= -15.9


@pytest.mark.parametrize("settings,options", [
    (dict(rate=22050, channels=1, loudness=-20.0), ["--rate", "22050", "--channels", "1",
                                                     "--loudness", "-20"]),
    (dict(loudness=None), ["--loudness", "off"]),
])
def test_settings_reach_the_song_as_on_the_command_line(tmp_path, settings, options):
    song = tmp_path / "song.mid"
    song.write_bytes(midi(notes(0, [60, 64, 67]) + notes(40, [72, 76], channel=1)))
    audio, labels = cli(str(song), tmp_path, *options)
    result = quillory.Renderer(SOUNDFONT, **settings).render(song)
    assert result.audio.shape == audio.shape and np.array_equal(result.audio, audio)
    assert_same_labels(result.labels, labels)
    assert (result.loudness is None) == (settings.get("loudness", -16) is None)


def test_bytes_and_file_objects_render_as_the_path(renderer, tmp_path):
    song = tmp_path / "song.mid"
    song.write_bytes(midi(notes(0, [60, 62, 64])))
    by_path = renderer.render(str(song))
    with open(song, "rb") as f:
        by_file = renderer.render(f)
    by_bytes = renderer.render(song.read_bytes(), name="song.mid")
    for other in (by_file, by_bytes):
        assert np.array_equal(other.audio, by_path.audio)
    assert by_bytes.tags["title"] == by_path.tags["title"] == "song"


def test_resident_synthesisers_sound_the_same_song_after_song(renderer, tmp_path):
    pieces = excerpt(tmp_path, "music002.mid", seconds=4, count=2)
    alone = [renderer.render(p, labels=False).audio for p in pieces]
    batch = list(renderer.render_many(pieces + pieces[:1] + pieces, jobs=1, labels=False))
    for got, want in zip(batch, alone + alone[:1] + alone):
        assert np.array_equal(got.audio, want)
    side_by_side = [r.audio for r in renderer.render_many(pieces * 2, jobs=2, labels=False)]
    for got, want in zip(side_by_side, alone * 2):
        assert np.array_equal(got, want)


def test_a_split_song_finds_the_effect_plugin_beside_the_module(renderer, tmp_path):
    (piece,) = excerpt(tmp_path, "music003.mid", seconds=3)
    renderer.render(piece, labels=False)
    with open("/proc/self/maps") as maps:
        assert "quillory-effect-share.so" in maps.read()
