# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stems add up to the mix and are named after their channels; several SoundFonts play as one
stack, a preset taken from the first that has it."""
import json
import math

import numpy as np
import pytest

import quillory
from conftest import convert, midi, notes, read_float_wav


def test_stems_add_up_to_the_mix(renderer, tmp_path):
    song = midi(notes(0, [60, 64]) + notes(32, [40, 43], channel=1) + notes(0, [36, 38], channel=9))
    result = renderer.render(song, stems=True)
    assert sorted(result.stems) == [(1, "01 Acoustic Grand Piano"), (2, "02 Acoustic Bass"),
                                    (10, "10 Drums")]
    total = sum(result.stems.values())
    assert np.sqrt(np.mean((total - result.audio) ** 2)) < 1e-6  # -120 dBFS
    for stem in result.stems.values():
        assert stem.shape == result.audio.shape and np.abs(stem).max() > 1e-3
    assert result.stem_programs[(2, "02 Acoustic Bass")] == [32]
    # The mix with stems is made of the stems, each with reverb and chorus of its own.
    plain = renderer.render(song)
    assert plain.stems is None and plain.audio.shape == result.audio.shape


@pytest.fixture(scope="module")
def fonts(tmp_path_factory):
    from conftest import sf2
    folder = tmp_path_factory.mktemp("fonts")
    sine = folder / "sine.sf2"
    sine.write_bytes(sf2([(0, "Sine", lambda p: math.sin(2 * math.pi * p))]))
    square = folder / "square.sf2"
    square.write_bytes(sf2([(0, "Square", lambda p: 1.0 if p < 0.5 else -1.0),
                            (1, "Saw", lambda p: 2 * p - 1)]))
    return str(sine), str(square)


def render(fonts, program):
    return quillory.Renderer(list(fonts)).render(midi(notes(program, [69, 72]))).audio


def test_a_stack_takes_each_preset_from_the_first_font_that_has_it(fonts):
    sine, square = fonts
    assert np.array_equal(render([sine, square], 0), render([sine], 0))
    assert np.array_equal(render([sine, square], 1), render([square], 1))
    assert not np.array_equal(render([square, sine], 0), render([sine], 0))
    assert quillory.Renderer([sine, square]).soundfonts == [sine, square]



def test_the_command_line_stacks_soundfonts_and_reports_them(fonts, tmp_path):
    sine, square = fonts
    song = tmp_path / "song.mid"
    song.write_bytes(midi(notes(0, [69]) + notes(1, [72])))
    out, report = tmp_path / "song.wav", tmp_path / "report.jsonl"

    def run(*fonts, resume=False):
        convert(str(song), "-o", str(out), "--bits", "32f", "--report", str(report),
                *[f"--soundfont={font}" for font in fonts], "--resume" if resume else "--force")
        return json.loads(report.read_text().splitlines()[-1])

    line = run(sine, square)
    assert np.array_equal(read_float_wav(out), quillory.Renderer([sine, square]).render(song).audio)
    assert [font["path"] for font in line["soundfonts"]] == [sine, square]
    assert line["soundfont"] == line["soundfonts"][0] and len(line["soundfonts"][1]["sha256"]) == 64
    # The report vouches for an output only when made with the same SoundFonts in the same order.
    assert "same settings" in run(sine, square, resume=True)["reason"]
    assert "length agrees" in run(square, sine, resume=True)["reason"]
