# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Other Python threads run while a song is synthesised, and Ctrl+C stops a render (and a batch)
part-way, leaving the renderer ready for the next song."""
import _thread
import os
import threading
import time

import numpy as np
import pytest

from conftest import REAL_SONGS, midi, notes

LONG_SONG = os.path.join(REAL_SONGS, "music001.mid")  # half an hour of music


def interrupt_after(seconds):
    timer = threading.Timer(seconds, _thread.interrupt_main)
    timer.start()
    return timer


def test_ctrl_c_stops_a_render_part_way(renderer):
    shown = []
    interrupt_after(0.5)
    with pytest.raises(KeyboardInterrupt):
        renderer.render(LONG_SONG, labels=False, progress=shown.append)
    assert shown and max(shown) < 100
    short = midi(notes(0, [60, 64]))
    assert np.array_equal(renderer.render(short).audio, renderer.render(short).audio)


def test_ctrl_c_stops_a_batch(renderer):
    handed = []
    interrupt_after(0.5)
    with pytest.raises(KeyboardInterrupt):
        for result in renderer.render_many([LONG_SONG] * 3, labels=False):
            handed.append(result)
    assert handed == []


def test_other_threads_run_during_a_render(renderer):
    counted = [0]
    busy = threading.Event()
    done = threading.Event()

    def count():
        while not done.is_set():
            if busy.is_set():
                counted[0] += 1

    thread = threading.Thread(target=count)
    thread.start()
    try:
        busy.set()
        time.sleep(0.1)
        per_tenth = counted[0]
        counted[0] = 0
        started = time.monotonic()
        renderer.render(midi(notes(0, list(range(30, 90)), length=192)), labels=False)
        busy.clear()
        took = time.monotonic() - started
    finally:
        done.set()
        thread.join()
    # Held for the render, the GIL would let the counter run only for a switch interval or two
    # (5 ms each) around it; released, it counts through most of the render.
    assert took > 0.3
    assert counted[0] > per_tenth


def test_threads_may_share_a_renderer(renderer):
    songs = [midi(notes(program, [60, 67])) for program in (0, 19, 40, 56)]
    alone = [renderer.render(song).audio for song in songs]
    results = [None] * len(songs)

    def render(i):
        results[i] = renderer.render(songs[i]).audio

    threads = [threading.Thread(target=render, args=(i,)) for i in range(len(songs))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, alone):
        assert np.array_equal(got, want)
