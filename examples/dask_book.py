"""Prices a book of 100,000 options on a Dask cluster of worker processes.

The book is held as numpy columns and cut into partitions; each worker prices
its whole partition with `velarix_batch.am_price` and `velarix_batch.bs_greeks`,
one call each, and sends back a float array. Plain arrays also keep Dask's
overhead low: it inspects Python lists and tuples passed to a task element by
element, but ships an array as one buffer. A `LocalCluster` stands in for a
real cluster: pass a scheduler address to use one instead.

    python examples/dask_book.py [scheduler-address]

Needs Dask distributed and numpy (`pip install ".[dask]"`); every worker
needs velarix installed.
"""
import sys
import time

import numpy as np
from dask.distributed import Client, LocalCluster

import velarix_batch

BOOK_SIZE = 100_000
PARTITION_SIZE = 10_000
COLUMNS = ("s", "k", "t", "r", "sigma", "q")
RESULT_FIELDS = ("price", "delta", "gamma", "theta", "vega", "rho")


def make_book(size, seed=7):
    """A random but reproducible book: a float array per argument of COLUMNS,
    and `is_call` for the option type."""
    rng = np.random.default_rng(seed)
    spot = rng.uniform(50.0, 150.0, size)
    return {
        "s": spot,
        "k": np.round(spot * rng.uniform(0.8, 1.2, size)),
        "t": rng.choice([0.1, 0.25, 0.5, 1.0, 2.0], size),
        "r": rng.uniform(0.0, 0.06, size),
        "sigma": rng.uniform(0.1, 0.6, size),
        "q": rng.uniform(0.0, 0.04, size),
        "is_call": rng.random(size) < 0.5,
    }


def price_partition(partition):
    """Runs on a worker: one row per option, the American price and then the
    European delta, gamma, theta, vega and rho. `partition` maps column names
    to arrays: a dict as here, or a pandas DataFrame. Each worker process
    has one thread of its own (threads_per_worker=1), so velarix_batch
    computes on that one thread; the cluster spreads the partitions."""
    numbers = [np.asarray(partition[column]) for column in COLUMNS]
    option_type = np.where(np.asarray(partition["is_call"]), "call", "put")
    greeks = velarix_batch.bs_greeks(*numbers, option_type, threads=1)
    price = velarix_batch.am_price(*numbers, option_type, threads=1)
    return np.column_stack([price, *greeks])


def partitions_of(book, size):
    count = len(book["s"])
    return [{name: column[start:start + size] for name, column in book.items()} for start in range(0, count, size)]


def price_book(client, book, partition_size=PARTITION_SIZE):
    futures = client.map(price_partition, partitions_of(book, partition_size))
    return np.concatenate(client.gather(futures))


def main():
    book = make_book(BOOK_SIZE)
    if len(sys.argv) > 1:
        client = Client(sys.argv[1])
    else:
        client = Client(LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None))
    with client:
        started = time.perf_counter()
        results = price_book(client, book)
        elapsed = time.perf_counter() - started
    print(f"priced {len(results):,} options ({int((~book['is_call']).sum()):,} puts) in {elapsed:.2f} s "
          f"on {-(-BOOK_SIZE // PARTITION_SIZE)} partitions")
    totals = dict(zip(RESULT_FIELDS, results.sum(axis=0)))
    print(f"book value {totals['price']:,.2f}, European delta {totals['delta']:,.2f}, vega {totals['vega']:,.2f}")


if __name__ == "__main__":
    main()
