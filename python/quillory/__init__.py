# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Quillory's MIDI renderer from Python: songs to numpy arrays.

A song is rendered exactly as ``quillory-convert --bits 32f`` renders it: the full FluidSynth
sound, split over the cores, brought to an even loudness (-16 LUFS, true peak at most -1 dBTP)
with one gain, with labels of where every note sounded and, if asked, stems per MIDI channel
that add up to the mix.

    >>> import quillory
    >>> renderer = quillory.Renderer()              # the SoundFont is loaded once, here
    >>> song = renderer.render("song.mid")
    >>> song.audio.shape, song.rate                 # float32, (frames, channels)
    ((441000, 2), 44100)
    >>> for song in renderer.render_many(paths):    # in order, on every core
    ...     train_on(song.audio, song.labels)

quillory.convert(input, output, **settings) converts one file as quillory-convert does, to any
of its formats, with its options as keywords.

Errors are exceptions: MidiError for a file that is not a playable MIDI file, SoundFontError for
a SoundFont that cannot be used, OSError for a file that cannot be opened, Error for anything
else a song can fail with (it renders to silence, it is too long). Ctrl+C stops a render.
"""

from __future__ import annotations

import os
from typing import Any, Callable, Iterable, Iterator, NamedTuple, Optional, Sequence, Union

import numpy as np

from ._quillory import Error, MidiError, SoundFontError, _convert, _Pool, _Renderer, versions

__version__ = versions()["quillory"]

__all__ = [
    "Renderer",
    "Result",
    "Loudness",
    "Results",
    "convert",
    "LABEL_DTYPE",
    "Error",
    "MidiError",
    "SoundFontError",
    "versions",
]

#: The fields of a label, as ``quillory-convert --labels`` writes them, one record per note in
#: the order the notes began. Samples are frame indices of the audio; ``silent`` is empty for a
#: note that sounded, else why it did not ("no preset", "no free voice", ...).
LABEL_DTYPE = np.dtype(
    [
        ("onset_sample", np.uint64),
        ("offset_sample", np.uint64),
        ("onset_seconds", np.float64),
        ("offset_seconds", np.float64),
        ("key", np.int32),
        ("frequency_hz", np.float64),
        ("velocity", np.int32),
        ("channel", np.int32),
        ("bank", np.int32),
        ("program", np.int32),
        ("key_offset_sample", np.uint64),
        ("sound_end_sample", np.uint64),
        ("silent", "U40"),
    ]
)

Song = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Any]


class Loudness(NamedTuple):
    """What the levelling measured and did: the integrated loudness (LUFS) and true peak (dBTP)
    of the song as synthesised, and the gain (dB) it was given; the audio is louder by the gain,
    as quillory-convert's report gives them."""

    integrated_lufs: float
    true_peak_dbtp: float
    gain_db: float


class Result:
    """One rendered song.

    Attributes:
        audio: float32 array of shape (frames, channels).
        rate: frames per second.
        seconds: the song's own length, before its ring.
        labels: structured array of LABEL_DTYPE, one record per note.
        loudness: a Loudness, or None when the song was not levelled.
        tags: dict with the song's "title", "copyright" and "software".
        notice: why the song was not levelled although asked, or "".
        stems: with stems=True, a dict {(channel, name): float32 array} whose arrays add up to
            audio (channel 1 to 16, name as in "01 Acoustic Grand Piano"); otherwise None.
        stem_programs: with stems=True, {(channel, name): [programs the channel played]}.
        source: the path, or the name of the bytes, the song came from.
    """

    __slots__ = ("audio", "rate", "seconds", "labels", "loudness", "tags", "notice", "stems",
                 "stem_programs", "source")

    def __init__(self, raw: dict, source: str, stems: bool) -> None:
        self.audio: np.ndarray = raw["audio"]
        self.rate: int = raw["rate"]
        self.seconds: float = raw["seconds"]
        self.labels: np.ndarray = _labels(raw["labels"])
        self.loudness: Optional[Loudness] = (Loudness(*raw["loudness"])
                                             if raw["loudness"] is not None else None)
        self.tags: dict = raw["tags"]
        self.notice: str = raw["notice"]
        self.stems: Optional[dict] = None
        self.stem_programs: Optional[dict] = None
        if stems:
            self.stems = {(ch, name): audio for ch, name, _, _, audio in raw["stems"]}
            self.stem_programs = {(ch, name): list(p) for ch, name, _, p, _ in raw["stems"]}
        self.source: str = source

    def __repr__(self) -> str:
        return (f"<quillory.Result {self.source!r}: {self.audio.shape[0]} frames x "
                f"{self.audio.shape[1]} at {self.rate} Hz, {len(self.labels)} notes>")


def _labels(columns: dict) -> np.ndarray:
    labels = np.zeros(len(columns["silent"]), dtype=LABEL_DTYPE)
    for name in LABEL_DTYPE.names:
        labels[name] = columns[name]
    return labels


def _song(midi: Song, name: Optional[str]) -> tuple:
    """(path, bytes, name) for the engine: a path, bytes, or a file object opened in binary."""
    if isinstance(midi, (str, os.PathLike)):
        path = os.fspath(midi)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return (path, None, name or path)
    if isinstance(midi, (bytes, bytearray, memoryview)):
        return (None, bytes(midi), name or "<bytes>")
    read = getattr(midi, "read", None)
    if read is None:
        raise TypeError(f"a song is a path, bytes or a binary file object, not {type(midi).__name__}")
    data = read()
    if not isinstance(data, (bytes, bytearray)):
        raise TypeError("the file object must be opened in binary mode ('rb')")
    return (None, bytes(data), name or str(getattr(midi, "name", "<file object>")))


class Renderer:
    """Renders MIDI songs to arrays with one set of SoundFonts, loaded once.

    Args:
        soundfont: a SoundFont path, or a list of them played as one stack (a preset is taken
            from the first that has it); None for the one the program itself would use.
        rate: frames per second, 8000 to 96000.
        channels: 1 or 2 (mono is the average of the two).
        loudness: the integrated loudness in LUFS (-30 to -5) every song is brought to, with its
            true peak at most -1 dBTP; None for the synthesiser's fixed gain.
        max_seconds: a longer song fails before it is synthesised.

    Raises OSError for a SoundFont that cannot be opened, SoundFontError for one FluidSynth
    refuses (or when none is found), ValueError for settings out of range.
    """

    def __init__(self, soundfont: Union[None, str, "os.PathLike[str]", Sequence] = None,
                 rate: int = 44100, channels: int = 2, loudness: Optional[float] = -16.0,
                 max_seconds: int = 14400) -> None:
        if soundfont is None:
            fonts = []
        elif isinstance(soundfont, (str, os.PathLike)):
            fonts = [os.fspath(soundfont)]
        else:
            fonts = [os.fspath(f) for f in soundfont]
            if not fonts:
                raise ValueError("soundfont: an empty list names no SoundFont")
        self._engine = _Renderer(fonts, int(rate), int(channels),
                                 None if loudness is None else float(loudness), int(max_seconds))
        self.rate = int(rate)
        self.channels = int(channels)
        self.loudness = loudness

    @property
    def soundfonts(self) -> list:
        """The SoundFonts in use, the first searched first."""
        return self._engine.soundfonts

    def render(self, midi: Song, *, stems: bool = False, labels: bool = True,
               name: Optional[str] = None,
               progress: Optional[Callable[[int], None]] = None) -> Result:
        """Renders one song: a path, bytes, or a binary file object.

        stems: also return a stem per MIDI channel that sounds, adding up to the audio (costs
        about twice the time). labels: note where every note sounded (a little slower when on).
        name: what messages and the title tag call a song given as bytes. progress: called now
        and then with the percentage done.
        """
        path, data, shown = _song(midi, name)
        raw = self._engine.render(path, data, shown, stems, labels, progress)
        return Result(raw, shown, stems)

    def render_many(self, songs: Iterable[Song], jobs: Optional[int] = None, *,
                    stems: bool = False, labels: bool = True,
                    progress: Optional[Callable[[int, int], None]] = None,
                    errors: str = "raise") -> "Results":
        """Renders many songs side by side and yields their Results in the order given.

        jobs: songs at once; None for one per core this process may use (its CPU affinity and
        its cgroup's quota), as quillory-convert --jobs counts. Each worker loads the SoundFonts
        once and plays song after song on the same synthesisers, which sound the same whatever
        came before. progress(done, total) is called as each result is handed out; the
        iterator also has a length, so tqdm(renderer.render_many(paths)) shows a bar.
        errors: "raise" stops at the first song that fails and raises its exception there;
        "yield" hands out the exception in place of that song's Result and goes on.
        """
        if errors not in ("raise", "yield"):
            raise ValueError('errors is "raise" or "yield"')
        items = [_song(s, None) for s in songs]
        if jobs is not None and int(jobs) < 1:
            raise ValueError("jobs must be at least 1")
        return Results(self, items, 0 if jobs is None else int(jobs), stems, labels, progress,
                       errors)

    def __repr__(self) -> str:
        return (f"<quillory.Renderer {self.soundfonts!r} at {self.rate} Hz, {self.channels} "
                f"channel(s), loudness {self.loudness}>")


class Results(Iterator[Result]):
    """The results of Renderer.render_many, in input order; len() is the number of songs."""

    # Between two looks for a result, Python runs its signal handlers: Ctrl+C stops at once.
    _WAIT_MS = 50

    def __init__(self, renderer: Renderer, items: list, jobs: int, stems: bool, labels: bool,
                 progress: Optional[Callable[[int, int], None]], errors: str) -> None:
        self._names = [item[2] for item in items]
        self._pool = _Pool(renderer._engine, items, jobs, stems, labels) if items else None
        self._next = 0
        self._stems = stems
        self._progress = progress
        self._errors = errors

    def __len__(self) -> int:
        return len(self._names)

    def __iter__(self) -> "Results":
        return self

    def __next__(self) -> Result:
        if self._next >= len(self._names) or self._pool is None:
            raise StopIteration
        index = self._next
        try:
            raw = None
            while raw is None:
                raw = self._pool.take(index, self._WAIT_MS)
            result: Any = Result(raw, self._names[index], self._stems)
        except (Error, OSError) as failure:
            if self._errors == "raise":
                self.close()
                raise
            result = failure
        except BaseException:
            self.close()
            raise
        self._next += 1
        if self._progress is not None:
            self._progress(self._next, len(self._names))
        return result

    def close(self) -> None:
        """Stops the songs in flight; nothing more is handed out."""
        if self._pool is not None:
            self._pool.stop()
            self._pool = None

    def __del__(self) -> None:
        self.close()


# Options of the command line that concern a batch, not one file.
_BATCH_ONLY = {"files_from", "output_dir", "keep_tree", "shard", "resume", "report", "jobs",
               "quiet", "timeout", "output", "help", "version"}


def convert(input: Union[str, "os.PathLike[str]"], output: Union[str, "os.PathLike[str]"], *,
            progress: Optional[Callable[[int], None]] = None, **settings: Any) -> str:
    """Converts one file as ``quillory-convert INPUT -o OUTPUT --OPTION=VALUE...`` does.

    The settings are the command line's options, with "_" for "-": soundfont="a.sf2" (a list
    for several, stacked), format="flac", rate=48000, bits=24 or "32f", channels=1,
    loudness=-14.0 or None (off), bitrate=192, vbr="128-256", quality=6, channel_mode="joint",
    stems=True, labels=True or "mir_eval", force=True, settings="options.ini", max_seconds=600.
    Unset ones come from the program's options.ini, as for the command line.

    Returns the warning the command line would print for a file that converted (a song not
    evened out), or "". Raises what Renderer.render raises for the same failures (MidiError,
    SoundFontError, OSError, Error), FileExistsError for an output that exists without
    force=True, and ValueError for what the command line calls a usage error.
    """
    options = []
    for key, value in settings.items():
        if key in _BATCH_ONLY:
            raise TypeError(f"convert() converts one file; {key}= belongs to quillory-convert")
        option = "--" + key.replace("_", "-")
        if key == "loudness" and value is None:
            value = "off"
        if key == "labels" and value is True:
            value = "tsv"
        if value is True:
            options.append(option)
        elif value is False or value is None:
            continue
        elif isinstance(value, (list, tuple)):
            options += [f"{option}={os.fspath(v)}" for v in value]
        else:
            options.append(f"{option}={os.fspath(value) if isinstance(value, os.PathLike) else value}")
    return _convert(os.fspath(input), os.fspath(output), options, progress)
