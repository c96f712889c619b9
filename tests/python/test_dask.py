"""Pricing on Dask worker processes gives, bit for bit, the local results.

Runs under the `dask` marker (`pytest -m dask`) and is skipped when Dask
distributed is not installed."""
import logging
import math
import random
import struct
import sys

import pytest
import velarix

distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")

pytestmark = pytest.mark.dask

EDGE_OPTIONS = [
    (100.0, 100.0, 0.0, 0.05, 0.2, 0.0, "call"),
    (100.0, 100.0, 1.0, 0.05, 0.0, 0.0, "put"),
    (-0.0, 100.0, 1.0, 0.05, 0.2, 0.0, "PUT"),
    (math.nan, 100.0, 1.0, 0.05, 0.2, 0.0, "c"),
    (math.inf, 100.0, 1.0, 0.05, 0.2, 0.0, "p"),
    (100.0, 5e-324, 1.0, 0.05, 0.2, 0.0, "call"),
]


def book(count, seed=11):
    generator = random.Random(seed)
    options = [(generator.uniform(1, 300), generator.uniform(1, 300), generator.uniform(0.01, 3),
                generator.uniform(-0.01, 0.1), generator.uniform(0.05, 0.9), generator.uniform(0.0, 0.1),
                generator.choice(["call", "put"])) for _ in range(count)]
    return options + EDGE_OPTIONS


def price_options(options):
    """Runs on a worker: PyGreeks instances cannot be pickled, so the Greeks
    travel back as plain tuples."""
    results = []
    for option in options:
        greeks = velarix.bs_greeks(*option)
        results.append((velarix.am_price(*option),
                        (greeks.delta, greeks.gamma, greeks.theta, greeks.vega, greeks.rho)))
    return results


def raw_bits(result):
    price, greeks = result
    return struct.pack("<6d", price, *greeks)


@pytest.fixture(scope="module")
def client():
    # The workers cannot import this test module, so its functions travel by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=logging.ERROR)
    with cluster, distributed.Client(cluster) as dask_client:
        dask_client.wait_for_workers(2)
        yield dask_client
    cloudpickle.unregister_pickle_by_value(sys.modules[__name__])


def test_workers_price_a_book_bit_for_bit_like_this_process(client):
    options = book(3000)
    partitions = [options[start:start + 500] for start in range(0, len(options), 500)]
    remote = [result for part in client.gather(client.map(price_options, partitions)) for result in part]
    local = price_options(options)
    assert len(remote) == len(local)
    mismatches = [option for option, a, b in zip(options, remote, local) if raw_bits(a) != raw_bits(b)]
    assert mismatches == []
    worker_pids = client.run(lambda: __import__("os").getpid())
    assert len(set(worker_pids.values())) == 2


def test_a_worker_refuses_a_bad_option_type_like_this_process(client):
    future = client.submit(velarix.am_price, 100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "straddle")
    with pytest.raises(ValueError, match=r"^Invalid option type\. Use 'call' or 'put'\.$"):
        future.result()
