import time, numpy as np, velarix_batch as vb, velarix
from batch import BOOK_SIZE, make_book
book = make_book(BOOK_SIZE)
def best(f, n=7):
    ts=[]
    for _ in range(n):
        s=time.perf_counter(); f(); ts.append(time.perf_counter()-s)
    return min(ts)
outs = tuple(np.empty(BOOK_SIZE) for _ in range(5))
for th in (1,2):
    print("bs_greeks threads", th, f"{best(lambda: vb.bs_greeks(**book, threads=th))*1e3:.1f} ms", " out=", f"{best(lambda: vb.bs_greeks(**book, threads=th, out=outs))*1e3:.1f} ms")
    print("bs_delta threads", th, f"{best(lambda: vb.bs_delta(**book, threads=th))*1e3:.1f} ms")
small = {k: v[:20000] for k, v in book.items()}
for th in (1,2):
    print("am_price 20k threads", th, f"{best(lambda: vb.am_price(**small, threads=th), 3)/20000*1e9:.0f} ns/option")
for n in (1,2,3,4,5,6,7,8,9,16):
    sl = {k: v[:n] for k, v in book.items()}
    print(n, "bs_delta", f"{best(lambda: [vb.bs_delta(**sl) for _ in range(1000)], 3)*1e6/1000:.0f} ns", "am_price", f"{best(lambda: [vb.am_price(**sl) for _ in range(1000)], 3)*1e6/1000:.0f} ns")
print("one option bs_delta", f"{best(lambda: [vb.bs_delta(100.0, 95.0, 0.75, 0.06, 0.3, 0.04, 'put') for _ in range(10000)], 5)*1e9/10000:.0f} ns",
      "am_price", f"{best(lambda: [vb.am_price(100.0, 95.0, 0.75, 0.06, 0.3, 0.04, 'put') for _ in range(10000)], 5)*1e9/10000:.0f} ns")
