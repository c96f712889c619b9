"""Pricing partitions with velarix_batch on Dask worker processes gives, bit
for bit, the scalar module's results computed here, option by option.

Runs under the `dask` marker (`pytest -m dask`) and is skipped when Dask
distributed is not installed."""
import logging
import math
import random
import struct
import sys

import numpy as np
import pytest
import velarix
import velarix_batch

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


COLUMNS = ("s", "k", "t", "r", "sigma", "q", "option_type")


def partition_of(options):
    """The options as a partition of columns, as a DataFrame partition gives them."""
    return {name: np.array(column) for name, column in zip(COLUMNS, zip(*options))}


def price_partition(partition):
    """Runs on a worker: a partition of columns in, one row of six floats
    (the American price, then the five European Greeks) per option out."""
    columns = [partition[name] for name in COLUMNS]
    greeks = velarix_batch.bs_greeks(*columns, threads=1)
    return np.column_stack([velarix_batch.am_price(*columns, threads=1), *greeks])


def price_locally(option):
    """The scalar module on one option, as the six floats of a row."""
    greeks = velarix.bs_greeks(*option)
    return velarix.am_price(*option), greeks.delta, greeks.gamma, greeks.theta, greeks.vega, greeks.rho


def raw_bits(row):
    return struct.pack("<6d", *row)


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
    partitions = [partition_of(options[start:start + 500]) for start in range(0, len(options), 500)]
    remote = np.concatenate(client.gather(client.map(price_partition, partitions)))
    local = [price_locally(option) for option in options]
    assert remote.shape == (len(local), 6)
    mismatches = [option for option, a, b in zip(options, remote.tolist(), local) if raw_bits(a) != raw_bits(b)]
    assert mismatches == []
    worker_pids = client.run(lambda: __import__("os").getpid())
    assert len(set(worker_pids.values())) == 2


def test_a_worker_refuses_a_bad_option_type_like_this_process(client):
    future = client.submit(velarix.am_price, 100.0, 100.0, 1.0, 0.05, 0.2, 0.0, "straddle")
    with pytest.raises(ValueError, match=r"^Invalid option type\. Use 'call' or 'put'\.$"):
        future.result()
    partition = partition_of(book(3)[:3])
    partition["option_type"] = np.array(["call", "straddle", "put"])
    with pytest.raises(ValueError, match=r"^Invalid option type\. Use 'call' or 'put'\. \(option_type\[1\]: 'straddle'\)$"):
        client.submit(price_partition, partition).result()
