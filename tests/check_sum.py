"""The sum of several meters worked out from a trend workbook's meter sheets, by the rule: at each
reading of the first meter whose latest reading measures AC voltage, S is the sum of I x U over
every meter whose latest reading measures AC voltage, where each of them has read within 1.25 s
and none is over range; else there is no sum. P is each meter's S times its own power factor.
Arguments: the workbook, then NAME=PF for each meter sheet in order. Checks the sheet "total"
point for point (printing what disagrees), then prints the statistics as the Trend view shows
them: "S<TAB>last<TAB>min<TAB>max<TAB>mean<TAB>count", and the same for P."""
import datetime
import decimal
import sys

import openpyxl

decimal.getcontext().prec = 60
book = openpyxl.load_workbook(sys.argv[1], read_only=True)
factors = [(name, decimal.Decimal(pf)) for name, pf in (a.split("=") for a in sys.argv[2:])]
epoch = datetime.datetime(1970, 1, 1)


def ms(value):
    return round((value - epoch).total_seconds() * 1000)


def exact(value):
    return None if value is None else decimal.Decimal(repr(float(value)))


readings = []  # (time ms, meter index, AC voltage, S or None)
for index, (name, _) in enumerate(factors):
    for row in list(book[name].iter_rows(values_only=True))[1:]:
        current, second = exact(row[6]), exact(row[7])
        ac = str(row[1]) == "1"
        s = current * second if ac and current is not None and second is not None else None
        readings.append((ms(row[0]), index, ac, s))
readings.sort(key=lambda r: (r[0], r[1]))

latest = {}
expected = []  # (time ms, S, P)
for time, index, ac, s in readings:
    latest[index] = (time, ac, s)
    first = min((k for k, (_, a, _) in latest.items() if a), default=None)
    if first != index:
        continue
    total, real, complete = decimal.Decimal(0), decimal.Decimal(0), True
    for k, (at, a, sk) in latest.items():
        if not a:
            continue
        if abs(time - at) > 1250 or sk is None:
            complete = False
            break
        total += sk
        real += sk * factors[k][1]
    if complete:
        expected.append((time, total, real))

written = [row for row in list(book["total"].iter_rows(values_only=True))[1:]]
if len(written) != len(expected):
    print("total: %d points written, %d worked out" % (len(written), len(expected)))
for (time, s, p), row in zip(expected, written):
    if ms(row[0]) != time or row[1] != float(s) or row[2] != float(p):
        print("total at %d: wrote %r, worked out %s %s" % (time, row, s, p))


def text(value, places):
    rounded = value.quantize(decimal.Decimal(1).scaleb(-places), decimal.ROUND_HALF_UP)
    return "0" if rounded == 0 else format(rounded.normalize(), "f")


def mean(values):
    average = sum(values) / len(values)
    return str(average.quantize(decimal.Decimal("0.01"), decimal.ROUND_HALF_EVEN))


for name, column, unit, places in (("S", 1, "VA", 4), ("P", 2, "W", 3)):
    values = [point[column] for point in expected]
    print("\t".join([name] + [text(v, places) + unit for v in (values[-1], min(values), max(values))]
                    + [mean(values) + unit, str(len(values))]))
