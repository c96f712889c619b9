"""Prices an option chain around the spot, calls and puts, European and
American, and prints price and Greeks as an aligned table."""
import math

import velarix

SPOT, RATE, VOLATILITY, DIVIDEND, YEARS = 100.0, 0.05, 0.25, 0.02, 0.5
STRIKES = [80.0, 90.0, 95.0, 100.0, 105.0, 110.0, 120.0]

HEADER = f"{'style':<9}{'type':<5}{'strike':>8}{'price':>10}{'delta':>9}{'gamma':>9}{'theta':>9}{'vega':>9}{'rho':>9}"


def main():
    print(f"spot {SPOT}, rate {RATE}, volatility {VOLATILITY}, dividend yield {DIVIDEND}, {YEARS} years")
    print("theta per calendar day, vega per 1.00 of volatility, rho per percentage point")
    print(HEADER)
    print("-" * len(HEADER))
    for style in ("European", "American"):
        for option_type in ("call", "put"):
            for strike in STRIKES:
                arguments = (SPOT, strike, YEARS, RATE, VOLATILITY, DIVIDEND, option_type)
                if style == "European":
                    greeks = velarix.bs_greeks(*arguments)
                    price = european_price(*arguments)
                else:
                    greeks = velarix.am_greeks(*arguments)
                    price = velarix.am_price(*arguments)
                print(f"{style:<9}{option_type:<5}{strike:>8.2f}{price:>10.4f}{greeks.delta:>9.4f}{greeks.gamma:>9.4f}"
                      f"{greeks.theta:>9.4f}{greeks.vega:>9.4f}{greeks.rho:>9.4f}")


def european_price(s, k, t, r, sigma, q, option_type):
    """The module computes European Greeks but no European price: the price
    column uses the textbook closed form."""
    d1 = (math.log(s / k) + (r - q + 0.5 * sigma * sigma) * t) / (sigma * math.sqrt(t))
    d2 = d1 - sigma * math.sqrt(t)

    def n(x):
        return 0.5 * math.erfc(-x / math.sqrt(2))

    if option_type == "call":
        return s * math.exp(-q * t) * n(d1) - k * math.exp(-r * t) * n(d2)
    return k * math.exp(-r * t) * n(-d2) - s * math.exp(-q * t) * n(-d1)


if __name__ == "__main__":
    main()
