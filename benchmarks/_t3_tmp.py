import numpy as np, velarix_batch as vb
from batch import BOOK_SIZE, make_book
book = make_book(1000)
sl = {k: v[:1] for k, v in book.items()}
for _ in range(100000): vb.bs_delta(**sl, threads=1)
