# SPDX-FileCopyrightText: the Quillory developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Type hints of the quillory module.

import os
from typing import IO, Callable, Iterable, Iterator, NamedTuple, Optional, Sequence, Union

import numpy as np
import numpy.typing as npt

Song = Union[str, os.PathLike[str], bytes, bytearray, memoryview, IO[bytes]]
SoundFonts = Union[None, str, os.PathLike[str], Sequence[Union[str, os.PathLike[str]]]]

LABEL_DTYPE: np.dtype

class Error(Exception): ...
class MidiError(Error): ...
class SoundFontError(Error): ...

__version__: str

def versions() -> dict[str, str]: ...
def convert(input: Union[str, os.PathLike[str]], output: Union[str, os.PathLike[str]], *,
            progress: Optional[Callable[[int], None]] = None, **settings: object) -> str: ...

class Loudness(NamedTuple):
    integrated_lufs: float
    true_peak_dbtp: float
    gain_db: float

class Result:
    audio: npt.NDArray[np.float32]
    rate: int
    seconds: float
    labels: np.ndarray
    loudness: Optional[Loudness]
    tags: dict[str, str]
    notice: str
    stems: Optional[dict[tuple[int, str], npt.NDArray[np.float32]]]
    stem_programs: Optional[dict[tuple[int, str], list[int]]]
    source: str

class Results(Iterator[Result]):
    def __len__(self) -> int: ...
    def __iter__(self) -> Results: ...
    def __next__(self) -> Result: ...
    def close(self) -> None: ...

class Renderer:
    rate: int
    channels: int
    loudness: Optional[float]
    def __init__(self, soundfont: SoundFonts = None, rate: int = 44100, channels: int = 2,
                 loudness: Optional[float] = -16.0, max_seconds: int = 14400) -> None: ...
    @property
    def soundfonts(self) -> list[str]: ...
    def render(self, midi: Song, *, stems: bool = False, labels: bool = True,
               name: Optional[str] = None,
               progress: Optional[Callable[[int], None]] = None) -> Result: ...
    def render_many(self, songs: Iterable[Song], jobs: Optional[int] = None, *,
                    stems: bool = False, labels: bool = True,
                    progress: Optional[Callable[[int, int], None]] = None,
                    errors: str = "raise") -> Results: ...
