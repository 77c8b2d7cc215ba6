"""The README's Dask example on a LocalCluster of two worker processes,
every entry's radii checked against boxreach; then the same code against
the cluster's scheduler address, as a remote cluster is reached."""

from __future__ import annotations

import importlib.util
import os
import sys

import numpy
import pytest

from conftest import EXAMPLES, boxreach, example_inputs, readable_inputs, report_of

distributed = pytest.importorskip("distributed")


def load_example():
    # The workers unpickle the example's functions by module name.
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [str(EXAMPLES), os.environ.get("PYTHONPATH")]))
    sys.path.insert(0, str(EXAMPLES))
    located = importlib.util.spec_from_file_location("dask_reach", EXAMPLES / "dask_reach.py")
    module = importlib.util.module_from_spec(located)
    sys.modules["dask_reach"] = module
    located.loader.exec_module(module)
    return module


def test_bag_of_entries_on_a_local_cluster(generated):
    example = load_example()
    names = [str(p) for p in example_inputs() + readable_inputs(generated)]
    names.append(str(generated / "damaged.pdb.gz"))
    centre = (4.0, 1.5, -2.0)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            local = example.radii(names, client, centre)
        with distributed.Client(cluster.scheduler_address) as client:
            by_address = example.radii(names, client, centre, fetch=lambda name: open(name, "rb").read())
    assert local == by_address
    assert [name for name, _, _ in local] == names
    for name, radius, failure in local:
        status, report = boxreach(name, centre)
        if status == 1:
            assert failure is None and report_of(numpy.array(radius, numpy.float32)) == report, name
        else:
            assert radius is None and report.decode().startswith(failure), name
