"""What many reads cost: no memory kept between calls, and threads that
read side by side give what one thread gives."""

from __future__ import annotations

import concurrent.futures
import itertools

import record_scan
from conftest import EXAMPLES, example_inputs, readable_inputs, same_bits


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_reading_one_file_10000_times_keeps_no_memory(generated):
    path = EXAMPLES / "sample.pdb.gz"
    data = (EXAMPLES / "sample.bcif").read_bytes()
    reads = [lambda: record_scan.coordinates(path), lambda: record_scan.coordinates(data),
             lambda: record_scan.reach(path, (1, 2, 3)), lambda: list(record_scan.batches(data, 10))]
    for read in reads:  # the allocator's pools settle first
        for _ in range(50):
            read()
    before = resident_bytes()
    for i in range(10000):
        reads[i % len(reads)]()
    grown = resident_bytes() - before
    assert grown < 1 << 20, f"resident memory grew by {grown} bytes over 10,000 reads"


def test_eight_threads_read_what_one_reads(generated):
    paths = example_inputs() + readable_inputs(generated)
    work = list(itertools.islice(itertools.cycle(paths), 2 * len(paths)))
    alone = [record_scan.coordinates(p) for p in work]
    radii_alone = [record_scan.reach(p, (1, -2, 3)) for p in work]
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        together = list(pool.map(record_scan.coordinates, work))
        radii = list(pool.map(lambda p: record_scan.reach(p, (1, -2, 3)), work))
        batched = list(pool.map(lambda p: list(record_scan.batches(p.read_bytes(), 333)), work))
    for i, path in enumerate(work):
        assert same_bits(together[i], alone[i]), path.name
        assert same_bits(radii[i], radii_alone[i]), path.name
        assert sum(len(b) for b in batched[i]) == len(alone[i]), path.name
