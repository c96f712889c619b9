"""Checked by mypy against the installed stubs: correct uses pass, and the
lines marked as errors must be reported."""
import velarix

price: float = velarix.am_price(100.0, 95.0, 0.5, 0.05, 0.3, option_type="put")
greeks: velarix.PyGreeks = velarix.bs_greeks(100, 100, 1, 0.05, 0.2, 0.0, "CALL")
delta: float = greeks.delta
velarix.bs_gamma(100, 100, 1, 0.05, 0.2, option_type="call")  # type: ignore[call-arg]
velarix.bs_delta("100", 100, 1, 0.05, 0.2)  # type: ignore[arg-type]
greeks.delta = 1.0  # type: ignore[misc]
