"""Fixtures of the record_scan module's tests: the tools to compare with,
and the inputs they are compared on."""

from __future__ import annotations

import math
import os
import pathlib
import subprocess

import numpy
import pytest

TOOLS = pathlib.Path(os.environ["RECORD_SCAN_TOOLS"])
EXAMPLES = pathlib.Path(os.environ["RECORD_SCAN_EXAMPLES"])
WRITE_INPUTS = os.environ["RECORD_SCAN_WRITE_INPUTS"]


@pytest.fixture(scope="session")
def generated(tmp_path_factory) -> pathlib.Path:
    folder = tmp_path_factory.mktemp("inputs")
    subprocess.run([WRITE_INPUTS, str(folder)], check=True)
    return folder


def readable_inputs(folder: pathlib.Path) -> list[pathlib.Path]:
    """Every input that reads to its end: the shipped examples and the
    generated atoms in every format and compression."""
    return sorted(p for p in folder.iterdir() if p.name.startswith(("atoms.", "empty.")))


def example_inputs() -> list[pathlib.Path]:
    return sorted(p for p in EXAMPLES.iterdir() if p.is_file() and p.name.startswith("sample."))


def format_value(value: float) -> str:
    """One coordinate as printf's "%f" writes it, the sign of a NaN kept."""
    if math.isnan(value):
        return "-nan" if math.copysign(1.0, value) < 0 else "nan"
    return "%f" % value


def csv_of(rows: numpy.ndarray) -> bytes:
    return "".join(",".join(format_value(float(v)) for v in row) + "\n" for row in rows).encode()


def report_of(radius: numpy.ndarray) -> bytes:
    """boxreach's two lines for these radii, the diameters doubled in float32."""
    diameter = radius + radius
    return ("Radius X Y Z = %10.3f %10.3f %10.3f\nDiameter X Y Z = %10.3f %10.3f %10.3f\n"
            % (*map(float, radius), *map(float, diameter))).encode()


def xyzdump(path: pathlib.Path, tmp_path: pathlib.Path) -> tuple[int, bytes, bytes]:
    """xyzdump's status, message and CSV for one input."""
    out = tmp_path / (path.name + ".csv")
    run = subprocess.run([str(TOOLS / "xyzdump"), str(path), str(out)], capture_output=True)
    rows = out.read_bytes() if out.exists() else b""
    return run.returncode, run.stdout, rows


def boxreach(path: pathlib.Path, centre: tuple[float, float, float]) -> tuple[int, bytes]:
    run = subprocess.run([str(TOOLS / "boxreach"), str(path), *map(repr, centre)], capture_output=True)
    return run.returncode, run.stdout


def same_bits(a: numpy.ndarray, b: numpy.ndarray) -> bool:
    return a.shape == b.shape and a.dtype == b.dtype and bool(numpy.array_equal(a.view(numpy.uint32), b.view(numpy.uint32)))
