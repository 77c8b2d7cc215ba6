import mmap
import os
from typing import Iterator, Protocol, Sequence, SupportsFloat, Union

import numpy
import numpy.typing

from ._errors import IncompleteRecord as IncompleteRecord, ReadError as ReadError

class _ReadsInto(Protocol):
    def readinto(self, buffer: memoryview, /) -> int | None: ...

class _Reads(Protocol):
    def read(self, size: int, /) -> bytes: ...

_Rows = numpy.typing.NDArray[numpy.float32]

# A path; the file's bytes; or a binary file object.
Source = Union[str, os.PathLike[str], os.PathLike[bytes], bytes, bytearray, memoryview,
               mmap.mmap, numpy.typing.NDArray[numpy.uint8], _ReadsInto, _Reads]

def coordinates(source: Source) -> _Rows:
    """Every atom's X, Y, Z as an (n, 3) float32 array."""

def reach(source: Source, centre: Sequence[SupportsFloat]) -> _Rows:
    """boxreach's radii about centre, a (3,) float32 array."""

class Batches(Iterator[_Rows]):
    def __iter__(self) -> Batches: ...
    def __next__(self) -> _Rows: ...

def batches(source: Source, size: int = 65536) -> Batches:
    """The rows of coordinates(source) as (k, 3) float32 arrays, 1 <= k <= size."""
