"""Coordinates of molecular structure files as numpy arrays.

The reader of the boxreach and xyzdump tools, in-process: PDB and PQR,
mmCIF, BinaryCIF and MMTF, plain or gzip, bzip2, xz or zstd compressed,
recognised by their content.

    coordinates(source)       every atom's X, Y, Z: an (n, 3) float32 array
    batches(source, size)     the same rows, (k, 3) arrays of at most size rows
    reach(source, centre)     boxreach's radii about centre: a (3,) array

A source is a path (str or os.PathLike), a bytes-like object holding the
file (bytes, bytearray, memoryview, mmap, a uint8 array), or a binary file
object (open(path, "rb"), io.BytesIO, sys.stdin.buffer, a tar member).
bytes are always contents: a path given as bytes goes through os.fsdecode.

The GIL is let go while bytes are scanned, so threads over many files use
every core of one process.
"""

from ._errors import IncompleteRecord, ReadError
from ._core import Batches, batches, coordinates, reach

__all__ = ["Batches", "IncompleteRecord", "ReadError", "batches", "coordinates", "reach"]
