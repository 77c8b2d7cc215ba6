#!/usr/bin/python3
"""The Python module against the tools and two general structure
libraries, side by side in one process; best of several rounds.

    bench/python_bench.py [BUILD_DIR] [MEGABYTES]     (build/release, 200)

1. The 720 gzip-compressed mmCIF entries of bench/many_files.sh: ms a file
   for record_scan.coordinates (one thread, then two), for one boxreach
   process per file (a shell loop), and for gemmi and Biopython reading
   the coordinates into a numpy array (120 entries; skipped where not
   installed).
2. The PDB of bench/make_structure (200 MB): coordinates and a loop over
   batches, against boxreach on the same file.
3. Peak resident memory of a loop over batches on a 20 MB and a 1 GB PDB.
Run it from the page cache on a quiet machine; it builds nothing.
"""

from __future__ import annotations

import concurrent.futures
import glob
import gzip
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build/release").resolve()
MEGABYTES = int(sys.argv[2]) if len(sys.argv) > 2 else 200
sys.path.insert(0, str(BUILD / "python"))

import numpy  # noqa: E402

import record_scan  # noqa: E402

BOXREACH = BUILD / "bin/boxreach"
MAKE_STRUCTURE = BUILD / "bench/make_structure"


def best_of(rounds: int, run) -> float:
    """The shortest wall time of `rounds` runs, in seconds."""
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best


def shell_loop(tool_line: str, files: list[str], success: int = 1) -> None:
    """One process per file, as a shell script runs a tool; every status checked."""
    script = 'for f in "$@"; do ' + tool_line + f' >/dev/null; [ $? -eq {success} ] || exit 2; done'
    subprocess.run(["bash", "-c", script, "loop", *files], check=True)


def gemmi_reading(path: str) -> numpy.ndarray:
    from gemmi import cif
    block = cif.read(path).sole_block()
    return numpy.array([numpy.array(block.find_values("_atom_site.Cartn_" + axis), dtype=numpy.float32)
                        for axis in "xyz"]).T.copy()


def biopython_reading(path: str) -> numpy.ndarray:
    from Bio.PDB.MMCIFParser import FastMMCIFParser
    with gzip.open(path, "rt") as text:
        structure = FastMMCIFParser(QUIET=True).get_structure("entry", text)
    return numpy.array([atom.coord for atom in structure.get_atoms()], dtype=numpy.float32)


def many_files(work: pathlib.Path, count: int = 720) -> None:
    structures = sorted(glob.glob(str(ROOT / "bench/structures/*.cif.gz")))
    files = []
    for i in range(count):
        target = work / f"entry{i}.cif.gz"
        shutil.copy(structures[i % len(structures)], target)
        files.append(str(target))
    for f in files:
        pathlib.Path(f).read_bytes()
    atoms = sum(len(record_scan.coordinates(f)) for f in files) / count

    def one_thread():
        for f in files:
            record_scan.coordinates(f)

    def two_threads():
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            for _ in pool.map(record_scan.coordinates, files):
                pass

    per_file = {}
    for _ in range(3):  # interleaved rounds, the best of each kept
        for name, run in (("coordinates, 1 thread", one_thread), ("coordinates, 2 threads", two_threads),
                          ("boxreach, a process per file", lambda: shell_loop(f'"{BOXREACH}" "$f" 0 0 0', files)),
                          ("cat, a process per file", lambda: shell_loop('cat "$f"', files, 0))):
            took = best_of(2, run) / count * 1000
            per_file[name] = min(per_file.get(name, float("inf")), took)
    # The floor of any reading of these entries: inflating them. The same
    # reading of the entries' bytes and of their plain text, side by side;
    # the difference is what inflating costs (ISA-L, in the library).
    compressed = [pathlib.Path(f).read_bytes() for f in files]
    plain = [gzip.decompress(entry) for entry in compressed]
    for _ in range(3):
        for name, entries in (("coordinates of the .gz bytes", compressed), ("coordinates of the plain text", plain)):
            took = best_of(2, lambda: [record_scan.coordinates(entry) for entry in entries]) / count * 1000
            per_file[name] = min(per_file.get(name, float("inf")), took)
    inflating = per_file["coordinates of the .gz bytes"] - per_file["coordinates of the plain text"]
    few = files[:120]
    for name, reading in (("gemmi: cif.read + find_values + numpy.array", gemmi_reading),
                          ("Biopython: FastMMCIFParser", biopython_reading)):
        try:
            reading(few[0])
        except ImportError:
            print(f"  ({name}: not installed)")
            continue
        per_file[name] = best_of(2, lambda: [reading(f) for f in few]) / len(few) * 1000
        # The same rows as the module's, so that like is timed against like.
        assert numpy.array_equal(reading(few[0]), record_scan.coordinates(few[0])), name
    one = per_file["coordinates, 1 thread"]
    print(f"{count} gzip-compressed mmCIF entries ({atoms:.0f} atoms each on average), ms a file:")
    for name, ms in per_file.items():
        print(f"  {name:46s} {ms:7.3f} ms   {ms / one:6.1f} x coordinates")
    gemmi = per_file.get("gemmi: cif.read + find_values + numpy.array")
    print(f"  inflating alone (the .gz bytes less the plain text): {inflating:.3f} ms a file"
          + (f"; gemmi / inflating = {gemmi / inflating:.1f}: no reading of these entries can beat gemmi by more"
             if gemmi else ""))
    print(f"  two threads against one: {per_file['coordinates, 1 thread'] / per_file['coordinates, 2 threads']:.2f} x faster"
          f" ({os.cpu_count()} cores)")


def large_file(work: pathlib.Path) -> None:
    pdb = work / "large.pdb"
    subprocess.run([str(MAKE_STRUCTURE), "pdb", str(MEGABYTES), str(pdb)], check=True)
    pdb.read_bytes()

    def boxreach():
        subprocess.run([str(BOXREACH), str(pdb), "0", "0", "0"], stdout=subprocess.DEVNULL)

    def batches():
        for _ in record_scan.batches(pdb):
            pass

    times = {"boxreach (a process)": float("inf"), "coordinates": float("inf"), "batches loop": float("inf"),
             "reach": float("inf")}
    runs = {"boxreach (a process)": boxreach, "coordinates": lambda: record_scan.coordinates(pdb),
            "batches loop": batches, "reach": lambda: record_scan.reach(pdb, (0, 0, 0))}
    for _ in range(5):
        for name, run in runs.items():
            times[name] = min(times[name], best_of(1, run))
    base = times["boxreach (a process)"]
    print(f"the {MEGABYTES} MB PDB of bench/make_structure, best of 5:")
    for name, seconds in times.items():
        print(f"  {name:22s} {seconds * 1000:8.1f} ms   {seconds / base:5.2f} x boxreach")


def batches_memory(work: pathlib.Path) -> None:
    print("peak resident memory of a loop over batches (65536 rows each):")
    env = dict(os.environ, PYTHONPATH=str(BUILD / "python"))
    for megabytes in (20, 1000):
        pdb = work / f"memory{megabytes}.pdb"
        subprocess.run([str(MAKE_STRUCTURE), "pdb", str(megabytes), str(pdb)], check=True)
        loop = f"import record_scan\nfor b in record_scan.batches({str(pdb)!r}): pass"
        timed = subprocess.run(["/usr/bin/time", "-v", sys.executable, "-c", loop], env=env,
                               capture_output=True, text=True, check=True)
        peak = next(line.split(": ")[1] for line in timed.stderr.splitlines() if "Maximum resident" in line)
        print(f"  {megabytes:5d} MB input: {int(peak) / 1024:6.1f} MB")
        pdb.unlink()


def main() -> None:
    print(f"processor: {processor()}; kernel: {record_scan_kernel()}")
    with tempfile.TemporaryDirectory(prefix="record-scan-bench.") as folder:
        work = pathlib.Path(folder)
        many_files(work)
        large_file(work)
        batches_memory(work)


def processor() -> str:
    with open("/proc/cpuinfo") as info:
        return next((line.split(": ", 1)[1].strip() for line in info if line.startswith("model name")), "?")


def record_scan_kernel() -> str:
    """The kernel path the library takes here, as bench/touch reports it."""
    touch = BUILD / "bench/touch"
    if not touch.exists():
        return "?"
    return subprocess.run([str(touch), "kernel"], capture_output=True, text=True).stdout.strip() or "?"


if __name__ == "__main__":
    main()
