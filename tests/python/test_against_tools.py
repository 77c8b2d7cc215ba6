"""The module against the tools on every input they read: coordinates is
xyzdump's CSV, reach is boxreach's report, from every kind of source."""

from __future__ import annotations

import pathlib

import numpy
import pytest

import record_scan
from conftest import (boxreach, csv_of, example_inputs, readable_inputs, report_of, same_bits,
                      xyzdump)
from sources import SOURCE_KINDS

CENTRES = [(0.0, 0.0, 0.0), (4.0, 1.5, -2.0), (0.1, -1e3, 12345.678)]


@pytest.fixture(scope="module")
def inputs(generated) -> list[pathlib.Path]:
    return example_inputs() + readable_inputs(generated)


def test_inputs_cover_every_format_and_compression(inputs):
    names = {p.name for p in inputs}
    for kind in ("pdb", "pqr", "cif", "bcif", "mmtf"):
        for suffix in ("", ".gz", ".bz2", ".xz", ".zst"):
            assert f"atoms.{kind}{suffix}" in names


def test_coordinates_are_xyzdump_rows(inputs, tmp_path):
    for path in inputs:
        status, message, rows = xyzdump(path, tmp_path)
        assert (status, message) == (1, b""), path.name
        array = record_scan.coordinates(path)
        assert array.dtype == numpy.float32 and array.ndim == 2 and array.shape[1] == 3
        assert array.flags.c_contiguous
        assert csv_of(array) == rows, path.name


def test_reach_is_boxreach_report(inputs):
    for path in inputs:
        for centre in CENTRES:
            status, report = boxreach(path, centre)
            assert status == 1, path.name
            radius = record_scan.reach(path, centre)
            assert radius.dtype == numpy.float32 and radius.shape == (3,)
            assert report_of(radius) == report, (path.name, centre)


@pytest.mark.parametrize("kind", SOURCE_KINDS)
def test_every_source_kind_reads_alike(inputs, kind):
    make = SOURCE_KINDS[kind]
    for path in inputs:
        expected = record_scan.coordinates(str(path))
        assert same_bits(record_scan.coordinates(make(path)), expected), path.name
        assert same_bits(record_scan.reach(make(path), CENTRES[1]),
                         record_scan.reach(str(path), CENTRES[1])), path.name


@pytest.mark.parametrize("size", [1, 7, 256, 65536])
def test_batches_concatenate_to_coordinates(inputs, size):
    for path in inputs:
        expected = record_scan.coordinates(path)
        pieces = list(record_scan.batches(path, size))
        assert all(1 <= len(piece) <= size and piece.dtype == numpy.float32 for piece in pieces)
        assert all(len(piece) == size for piece in pieces[:-1]), "only the last batch is short"
        joined = numpy.concatenate(pieces) if pieces else numpy.empty((0, 3), numpy.float32)
        assert same_bits(joined, expected), (path.name, size)


def test_file_without_atoms_gives_no_rows(generated):
    for name in ("empty.pdb", "empty.cif", "empty.pdb.zst"):
        rows = record_scan.coordinates(generated / name)
        assert rows.shape == (0, 3) and rows.dtype == numpy.float32
        assert list(record_scan.batches(generated / name)) == []
        assert record_scan.reach(generated / name, (5, 5, 5)).tolist() == [0.0, 0.0, 0.0]
    assert record_scan.coordinates(b"").shape == (0, 3)
