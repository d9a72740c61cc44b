"""Peer for opening logs: pandas.read_csv (Debian's python3-pandas) on the same files, its
default C parser, as a user of a notebook would read them (several files: one read_csv each,
then pandas.concat). Prints NAME<TAB>median s<TAB>s.

usage: read_csv_peer.py NAME RUNS FILE..."""
import statistics
import sys
import time

import pandas

name, runs, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
times = []
for run in range(runs):
    start = time.perf_counter()
    frames = [pandas.read_csv(path) for path in files]
    frame = frames[0] if len(frames) == 1 else pandas.concat(frames, ignore_index=True)
    times.append(time.perf_counter() - start)
    assert len(frame) > 0
print("%s\t%.3f\ts" % (name, statistics.median(times)))
