# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""The README's examples from Python run as written, in a folder with a song and a collection."""
import os
import re

import soundfile

from conftest import TOP, midi, notes


def test_the_readme_examples_run(tmp_path, monkeypatch, capsys):
    text = open(os.path.join(TOP, "README.md")).read()
    section = text.split("## From Python", 1)[1].split("\n## ", 1)[0]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    assert len(blocks) == 2
    (tmp_path / "song.mid").write_bytes(midi(notes(0, [60, 64, 67])))
    (tmp_path / "midi" / "a").mkdir(parents=True)
    (tmp_path / "midi" / "one.mid").write_bytes(midi(notes(40, [70])))
    (tmp_path / "midi" / "a" / "two.mid").write_bytes(midi(notes(0, [50, 52])))
    monkeypatch.chdir(tmp_path)
    for block in blocks:
        exec(compile(block, "README.md", "exec"), {})
    audio, rate = soundfile.read("song.flac")
    assert rate == 44100 and audio.shape[1] == 2 and abs(audio).max() > 0.01
    printed = capsys.readouterr().out
    assert printed.count("(1, ") == 2 and "two.mid" in printed
