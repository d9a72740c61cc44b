"""Peer for the load study: pandas (Debian's python3-pandas) on the same month of daily logs, as
a user of a notebook would study them: read_csv each and concat, then the 15-minute means of
the current (resample) with their peak, and the energy of each day (group by the local day).
Prints NAME<TAB>median s<TAB>s.

usage: study_peer.py NAME RUNS FILE..."""
import statistics
import sys
import time

import pandas

name, runs, files = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
times = []
for run in range(runs):
    start = time.perf_counter()
    frame = pandas.concat([pandas.read_csv(path, usecols=["time", "function", "value1", "value2"])
                           for path in files], ignore_index=True)
    frame["time"] = pandas.to_datetime(frame["time"], utc=True)
    frame = frame.set_index("time").sort_index()
    frame["va"] = frame["value1"] * frame["value2"].where(frame["function"] == 1)
    quarters = frame["value1"].resample("15min").mean()
    peak = (quarters.max(), quarters.idxmax())
    days = frame["va"].groupby(frame.index.date).mean() * 24 / 1000  # kVAh, roughly
    times.append(time.perf_counter() - start)
    assert len(days) > 0 and peak[0] > 0
print("%s\t%.3f\ts" % (name, statistics.median(times)))
