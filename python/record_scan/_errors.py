"""The exceptions of record_scan, with the tools' meanings and messages."""

from __future__ import annotations

import numpy


class IncompleteRecord(ValueError):
    """An atom record without three numbers: "XYZ is not complete".

    ``rows`` holds the rows read before it, as an (n, 3) float32 array (for
    batches(), those since the last batch handed out; None for reach(),
    which keeps no rows).
    """

    def __init__(self, message: str, rows: numpy.ndarray | None = None) -> None:
        super().__init__(message)
        self.rows = rows


class ReadError(OSError):
    """The input failed part way, or is damaged or unreadable data (a broken
    compressed stream, an inconsistent binary file, a zip archive).

    ``filename`` is the path when the source was one, else None.
    """

    def __str__(self) -> str:
        # The tools' message alone: OSError would write "[Errno None] ..."
        # once a filename is set.
        return str(self.args[0]) if self.args else ""
