"""Every way a read fails, as the exception a Python caller expects, with
the tools' meaning and message."""

from __future__ import annotations

import io
import os
import pathlib

import numpy
import pytest

import record_scan
from conftest import csv_of, same_bits, xyzdump
from sources import SOURCE_KINDS, Trickle

INCOMPLETE = ["incomplete.pdb", "incomplete.pdb.gz", "incomplete.cif"]
UNREADABLE = ["damaged.pdb.gz", "cut.bcif", "archive.zip"]
BY_CONTENT = ["bytes", "open rb", "trickle read"]


@pytest.mark.parametrize("name", INCOMPLETE)
@pytest.mark.parametrize("kind", ["str path"] + BY_CONTENT)
def test_incomplete_record_keeps_the_rows_before_it(generated, tmp_path, name, kind):
    path = generated / name
    status, message, rows = xyzdump(path, tmp_path)
    assert (status, message) == (2, b"XYZ is not complete")
    with pytest.raises(record_scan.IncompleteRecord) as failure:
        record_scan.coordinates(SOURCE_KINDS[kind](path))
    assert str(failure.value) == "XYZ is not complete"
    assert isinstance(failure.value, ValueError)
    assert failure.value.rows.shape[0] >= 99
    assert csv_of(failure.value.rows) == rows
    with pytest.raises(record_scan.IncompleteRecord) as failure:
        record_scan.reach(SOURCE_KINDS[kind](path), (0, 0, 0))
    assert failure.value.rows is None


@pytest.mark.parametrize("name", INCOMPLETE)
@pytest.mark.parametrize("size", [10, 99, 1000])
def test_batches_hand_out_the_rows_before_an_incomplete_record(generated, name, size):
    handed_out = []
    with pytest.raises(record_scan.IncompleteRecord) as failure:
        for batch in record_scan.batches(generated / name, size):
            handed_out.append(batch)
    rows = numpy.concatenate(handed_out + [failure.value.rows])
    with pytest.raises(record_scan.IncompleteRecord) as whole:
        record_scan.coordinates(generated / name)
    assert same_bits(rows, whole.value.rows)


@pytest.mark.parametrize("name", UNREADABLE)
@pytest.mark.parametrize("kind", ["str path"] + BY_CONTENT)
def test_unreadable_input_is_a_read_error(generated, tmp_path, name, kind):
    path = generated / name
    status, message, _ = xyzdump(path, tmp_path)
    assert (status, message) == (2, b"PQR file can not be read .\n")
    for call, text in ((record_scan.coordinates, "PQR"), (lambda s: record_scan.reach(s, (0, 0, 0)), "PDB"),
                       (lambda s: list(record_scan.batches(s)), "PQR")):
        with pytest.raises(record_scan.ReadError) as failure:
            call(SOURCE_KINDS[kind](path))
        assert isinstance(failure.value, OSError)
        assert str(failure.value) == f"{text} file can not be read ."
        assert failure.value.filename == (str(path) if kind == "str path" else None)


def test_paths_that_cannot_be_opened(tmp_path, generated):
    cases = [(tmp_path / "missing.pdb", FileNotFoundError), (tmp_path, IsADirectoryError),
             (generated / "atoms.pdb" / "inside", NotADirectoryError)]
    if os.geteuid() != 0:  # root reads whatever the mode says
        locked = tmp_path / "locked.pdb"
        locked.write_bytes(b"")
        locked.chmod(0)
        cases.append((locked, PermissionError))
    for path, error in cases:
        for call in (record_scan.coordinates, lambda s: record_scan.reach(s, (0, 0, 0)), record_scan.batches):
            for given in (str(path), path):
                with pytest.raises(error) as failure:
                    call(given)
                assert failure.value.filename == given


def test_sources_that_are_no_sources(generated):
    with open(generated / "atoms.pdb") as text_file:
        with pytest.raises(TypeError, match="binary mode"):
            record_scan.coordinates(text_file)
    with pytest.raises(TypeError, match="binary mode"):
        record_scan.coordinates(io.StringIO("ATOM"))
    for wrong in (12, None, [b"ATOM"], numpy.zeros((4, 4), numpy.uint8)[:, ::2]):
        with pytest.raises(TypeError):
            record_scan.coordinates(wrong)
    with pytest.raises(ValueError, match="three numbers"):
        record_scan.reach(generated / "atoms.pdb", (1, 2))
    with pytest.raises(ValueError):
        record_scan.batches(generated / "atoms.pdb", 0)


def test_a_file_objects_own_error_comes_through(generated):
    class Failing(Trickle):
        def read(self, size=-1):
            if self._data.tell() > 5000:
                raise ConnectionResetError("the store went away")
            return super().read(size)

    with pytest.raises(ConnectionResetError, match="the store went away"):
        record_scan.coordinates(Failing((generated / "atoms.cif.gz").read_bytes()))
    with pytest.raises(TypeError, match="binary mode"):
        record_scan.coordinates(type("Texty", (), {"read": lambda self, n: "ATOM"})())
