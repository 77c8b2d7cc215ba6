"""Every kind of source the module takes, made from one file."""

from __future__ import annotations

import io
import mmap
import pathlib
import random

import numpy


class Trickle:
    """A file object with only read(), handing out a few bytes a call."""

    def __init__(self, data: bytes, seed: int = 7) -> None:
        self._data = io.BytesIO(data)
        self._random = random.Random(seed)

    def read(self, size: int = -1) -> bytes:
        return self._data.read(min(size, self._random.randint(1, 61)))


class TrickleInto(Trickle):
    """The same through readinto()."""

    def readinto(self, buffer) -> int:
        piece = self.read(len(buffer))
        buffer[: len(piece)] = piece
        return len(piece)


def _mapped(path: pathlib.Path):
    if path.stat().st_size == 0:
        return b""
    with open(path, "rb") as file:
        return mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ)


SOURCE_KINDS = {
    "str path": lambda path: str(path),
    "PathLike": lambda path: pathlib.Path(path),
    "bytes": lambda path: path.read_bytes(),
    "bytearray": lambda path: bytearray(path.read_bytes()),
    "memoryview": lambda path: memoryview(path.read_bytes()),
    "uint8 array": lambda path: numpy.frombuffer(path.read_bytes(), dtype=numpy.uint8),
    "mmap": _mapped,
    "open rb": lambda path: open(path, "rb"),
    "BytesIO": lambda path: io.BytesIO(path.read_bytes()),
    "unbuffered": lambda path: open(path, "rb", buffering=0),
    "trickle read": lambda path: Trickle(path.read_bytes()),
    "trickle readinto": lambda path: TrickleInto(path.read_bytes()),
}
