#!/usr/bin/python3
"""Every entry's radii about a centre, on a Dask cluster: boxreach's
answer for each file of a list, computed where the workers are.

    python3 examples/dask_reach.py files.txt                     # a LocalCluster on this machine
    python3 examples/dask_reach.py files.txt tcp://head:8786     # the same on a running cluster

files.txt holds one path a line, reachable under that path by every
worker (a shared file system). Each line of output is the path and its
three radii, or the path and why it failed; the status is the number of
files that failed (at most 100).
"""

from __future__ import annotations

import sys
from typing import Callable, Iterable, Optional, Sequence

import dask.bag
from distributed import Client, LocalCluster

import record_scan

Centre = Sequence[float]
Result = tuple[str, Optional[list[float]], Optional[str]]


def entry_reach(name: str, centre: Centre, fetch: Optional[Callable[[str], bytes]] = None) -> Result:
    """One entry: its radii, or the message of its failure. `fetch` turns a
    name into the file's bytes (an object store's get); without it the name
    is a path."""
    try:
        source = fetch(name) if fetch else name
        return name, record_scan.reach(source, centre).tolist(), None
    except (record_scan.IncompleteRecord, OSError) as failure:
        return name, None, str(failure)


def radii(names: Iterable[str], client: Client, centre: Centre = (0.0, 0.0, 0.0),
          fetch: Optional[Callable[[str], bytes]] = None) -> list[Result]:
    """Every entry's result, in the order of `names`, computed on `client`'s
    cluster in partitions of about a hundred entries."""
    names = list(names)
    bag = dask.bag.from_sequence(names, partition_size=100)
    return bag.map(entry_reach, centre, fetch).compute(scheduler=client.get)


def main(argv: list[str]) -> int:
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 100
    with open(argv[1]) as listing:
        names = [line.rstrip("\n") for line in listing if line.strip()]
    cluster = LocalCluster() if len(argv) == 2 else None
    with Client(cluster if cluster else argv[2]) as client:
        results = radii(names, client)
    if cluster:
        cluster.close()
    failed = 0
    for name, radius, failure in results:
        if failure is None:
            print("%s\t%.3f\t%.3f\t%.3f" % (name, *radius))
        else:
            failed += 1
            print("%s\tfailed: %s" % (name, failure))
    return min(failed, 100)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
