import time, numpy as np, velarix_batch as vb
from batch import BOOK_SIZE, make_book
book = make_book(BOOK_SIZE)
def best(f, n=5):
    ts=[]
    for _ in range(n):
        s=time.perf_counter(); f(); ts.append(time.perf_counter()-s)
    return min(ts)
for n in (1,4,8,64):
    sl = {k: v[:n] for k, v in book.items()}
    for th in (None, 1):
        print(n, th, "bs_delta", f"{best(lambda: [vb.bs_delta(**sl, threads=th) for _ in range(1000)])*1e6/1000:.2f} us", "am_price", f"{best(lambda: [vb.am_price(**sl, threads=th) for _ in range(1000)])*1e6/1000:.2f} us")
