# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stems add up to the mix and are named after their channels; several SoundFonts play as one
stack, a preset taken from the first that has it."""
import math

import numpy as np
import pytest

import quillory
from conftest import SOUNDFONT, midi, notes


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

