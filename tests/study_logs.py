"""Makes days of logs as the service leaves them, for the tests of the Study view: a file a day
(DIR/COM1.csv-YYYY-MM-DD, gzip-compressed with --gzip), readings every second in UTC, a current
that rises in the mornings and evenings, less at weekends, at about 230 V.

usage: study_logs.py DIR DAYS [--gzip]"""
import datetime
import gzip
import math
import os
import sys

folder, days = sys.argv[1], int(sys.argv[2])
compress = "--gzip" in sys.argv[3:]
header = "time,function,name1,text1,name2,text2,value1,value2\n"


def number(count, divisor):
    whole, part = divmod(count, divisor)
    text = "%d.%0*d" % (whole, len(str(divisor)) - 1, part)
    return text.rstrip("0").rstrip(".")


def body(weekend):
    """A day's lines, the date left as DATE: the same for every weekday, and every weekend day."""
    lines = []
    for second in range(86400):
        hour = second / 3600
        load = 0.5 + weekend * (math.exp(-(hour - 7.5) ** 2 / 2) + 1.4 * math.exp(-(hour - 19) ** 2 / 3))
        current = int(900 * load) + (second * 7919) % 150
        voltage = 2280 + (second * 104729) % 60
        i, u = number(current, 100), number(voltage, 10)
        lines.append("DATET%02d:%02d:%02d.000+00:00,1,AC I,%sA,AC U,%sV,%s,%s\n" % (
            second // 3600, second // 60 % 60, second % 60, i, u, i, u))
    return "".join(lines)


bodies = {1.0: body(1.0), 0.6: body(0.6)}
first = datetime.date(2026, 1, 5)  # a Monday
for d in range(days):
    day = first + datetime.timedelta(days=d)
    stamp = day.isoformat()
    data = (header + bodies[0.6 if day.weekday() >= 5 else 1.0].replace("DATE", stamp)).encode()
    path = os.path.join(folder, "COM1.csv-" + stamp)
    if compress:
        with open(path + ".gz", "wb") as f:
            f.write(gzip.compress(data, 1))
    else:
        with open(path, "wb") as f:
            f.write(data)
