"""Checked by mypy against the installed stubs of both modules: correct uses
pass, and the lines marked as errors must be reported."""
import velarix

price: float = velarix.am_price(100.0, 95.0, 0.5, 0.05, 0.3, option_type="put")
greeks: velarix.PyGreeks = velarix.bs_greeks(100, 100, 1, 0.05, 0.2, 0.0, "CALL")
delta: float = greeks.delta
velarix.bs_gamma(100, 100, 1, 0.05, 0.2, option_type="call")  # type: ignore[call-arg]
velarix.bs_delta("100", 100, 1, 0.05, 0.2)  # type: ignore[arg-type]
greeks.delta = 1.0  # type: ignore[misc]

import numpy as np
import velarix_batch

one: np.float64 = velarix_batch.bs_delta(100.0, 100.0, 1.0, 0.05, 0.2)
book = velarix_batch.am_greeks(np.array([100.0, 90.0]), 100, 1, 0.05, 0.2, option_type=["call", "put"], threads=2)
deltas: np.ndarray = book.delta
vega: np.float64 = velarix_batch.bs_greeks(100.0, 100.0, 1.0, 0.05, 0.2).vega
velarix_batch.bs_vega(100, 100, 1, 0.05, 0.2, option_type="call")  # type: ignore[call-overload]
velarix_batch.bs_rho(100, 100, 1, 0.05, 0.2, threads="all")  # type: ignore[call-overload]
volatility: np.float64 = velarix_batch.implied_volatility(10.0, 100.0, 100.0, 1.0, 0.05)
volatilities, why = velarix_batch.implied_volatility(np.array([10.0, 1.0]), 100, 100, 1, 0.05, reasons=True)
codes: np.ndarray = why
velarix_batch.implied_volatility(10.0, 100, 100, 1, 0.05, exercise="bermudan")  # type: ignore[call-overload]
into = np.empty(2)
written: np.ndarray = velarix_batch.bs_delta(np.array([100.0, 90.0]), 100, 1, 0.05, 0.2, out=into)
velarix_batch.bs_greeks(np.array([100.0, 90.0]), 100, 1, 0.05, 0.2, out=into)  # type: ignore[call-overload]
