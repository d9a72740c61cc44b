"""Peer for opening a log: pandas.read_csv (Debian's python3-pandas) on the same file, its
default C parser, as a user of a notebook would read a log. Prints name<TAB>median s<TAB>s."""
import statistics
import sys
import time

import pandas

runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
times = []
for run in range(runs):
    start = time.perf_counter()
    frame = pandas.read_csv(sys.argv[1])
    times.append(time.perf_counter() - start)
    assert len(frame) > 0
print("peer_pandas_read_csv\t%.3f\ts" % statistics.median(times))
