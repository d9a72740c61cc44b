"""A load study worked out from its rules alone, to check talviren-cli study against.

  study_oracle.py --interval SECONDS --min-coverage FRACTION [--power-factor PF]
                  [--rating A [--new-load A] [--demand sliding|block]]
                  --meter NAME FILE... [--meter NAME FILE...]

Reads the logs with Python's csv and gzip modules (gzip told by the first bytes), in the
program's time zone (TZ), and prints JSON under the names of talviren-cli study --json.

The rules: a piece is two consecutive readings at most 1.25 s apart; a quantity's integral
over a piece is the trapezoid, where both readings have it (the current; S = I x U where both
measure AC voltage; P = S x PF). A piece that crosses an interval's boundary is split there,
the value at the boundary on the straight line. Intervals start on the local clock at
multiples of their length; a mean is the integral over the measured seconds, coverage the
measured seconds over the interval's length. Block peak: the highest qualifying interval;
sliding peak: windows of the interval's length stepping by a minute, their mean the sum of
one-minute integrals over the sum of their measured seconds. Days are local calendar days."""
import csv
import datetime
import gzip
import io
import json
import math
import sys
import zoneinfo
import os

TZ = zoneinfo.ZoneInfo(os.environ.get("TZ", "UTC")) if os.environ.get("TZ") else zoneinfo.ZoneInfo("UTC")


def parse_arguments(argv):
    settings = {"interval": 900, "min": 0.9, "pf": None, "rating": None, "new": 0.0,
                "demand": "sliding"}
    meters = []
    i = 0
    while i < len(argv):
        a = argv[i]
        if a == "--meter":
            meters.append((argv[i + 1], []))
            i += 2
        elif a in ("--interval", "--min-coverage", "--power-factor", "--rating", "--new-load",
                   "--demand"):
            v = argv[i + 1]
            key = {"--interval": "interval", "--min-coverage": "min", "--power-factor": "pf",
                   "--rating": "rating", "--new-load": "new", "--demand": "demand"}[a]
            settings[key] = v if key == "demand" else (int(v) if key == "interval" else float(v))
            i += 2
        else:
            meters[-1][1].append(a)
            i += 1
    return settings, meters


def read_time(text):
    return datetime.datetime.fromisoformat(text).timestamp()


def readings_of(files):
    rows = set()
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        if data[:2] == b"\x1f\x8b":
            data = gzip.decompress(data)
        for record in list(csv.reader(io.StringIO(data.decode("utf-8").rstrip("\0"))))[1:]:
            if len(record) < 8:
                continue
            rows.add(tuple(record[:8]))
    out = []
    for r in rows:
        t = read_time(r[0])
        function = int(r[1])
        current = float(r[6]) if r[6] else None
        second = float(r[7]) if r[7] else None
        over = (r[3].startswith("OL")) or (r[5].startswith("OL"))
        s = current * second if function == 1 and current is not None and second is not None else None
        out.append((t, current, s, over))
    out.sort(key=lambda x: x[0])
    return out


def tie(value):
    """Means equal to a millionth are equal: a tie goes to the earliest."""
    return round(value * 1e6)


def local(t):
    return datetime.datetime.fromtimestamp(t, TZ)


def interval_start(t, length):
    """The UTC start of the interval holding t: the local clock floored to the length."""
    d = local(t)
    minutes = (d.hour * 60 + d.minute) // (length // 60) * (length // 60)
    start = d.replace(hour=minutes // 60, minute=minutes % 60, second=0, microsecond=0)
    return start.timestamp()


def day_start(date):
    return datetime.datetime(date.year, date.month, date.day, tzinfo=TZ).timestamp()


def integrate(readings, boundary_of):
    """Integrals per span: {start: [current area, current s, S area, S s]}, pieces split at
    boundary_of(t), which gives (start, end) of the span holding t."""
    spans = {}
    for (t1, i1, s1, _), (t2, i2, s2, _) in zip(readings, readings[1:]):
        if not 0 < t2 - t1 <= 1.25 + 1e-9:
            continue
        a = t1
        while a < t2 - 1e-9:
            start, end = boundary_of(a)
            b = min(end, t2)
            cell = spans.setdefault(start, [0.0, 0.0, 0.0, 0.0])
            for k, (v1, v2) in enumerate(((i1, i2), (s1, s2))):
                if v1 is None or v2 is None:
                    continue
                va = v1 + (v2 - v1) * (a - t1) / (t2 - t1)
                vb = v1 + (v2 - v1) * (b - t1) / (t2 - t1)
                cell[2 * k] += (va + vb) / 2 * (b - a)
                cell[2 * k + 1] += b - a
            a = b
    return spans


def study_meter(name, files, st):
    readings = readings_of(files)
    length = st["interval"]
    pf = st["pf"]

    def interval_of(t):
        s = interval_start(t, length)
        return s, s + length

    spans = integrate(readings, interval_of)
    minutes = integrate(readings, lambda t: (math.floor(t / 60) * 60, math.floor(t / 60) * 60 + 60))
    first, last = readings[0][0], readings[-1][0]
    days = []
    d = local(first).date()
    while d <= local(last).date():
        days.append(d)
        d += datetime.timedelta(days=1)
    # Every interval of every day.
    starts = []
    for day in days:
        t = day_start(day)
        end = day_start(day + datetime.timedelta(days=1))
        while t < end:
            starts.append(t)
            t = interval_start(t, length) + length
    counts = {}
    for t, i, s, over in readings:
        c = counts.setdefault(interval_start(t, length), [None, 0])
        if i is not None:
            c[0] = i if c[0] is None else max(c[0], i)
        c[1] += 1 if over else 0
    intervals = []
    for s in starts:
        ca, cs, sa, ss = spans.get(s, [0, 0, 0, 0])
        mx, overloads = counts.get(s, [None, 0])
        apparent = sa / ss if ss else None
        intervals.append({
            "start": s, "measured_s": cs, "coverage": cs / length,
            "current_a": ca / cs if cs else None, "max_current_a": mx,
            "apparent_power_va": apparent, "power_w": apparent * pf if apparent is not None and pf else None,
            "power_coverage": ss / length, "energy_vah": sa / 3600 if ss else None,
            "energy_wh": sa / 3600 * pf if ss and pf else None, "overloads": overloads})
    q = st["min"]

    def qualifying(key, cov):
        return [x for x in intervals if x[key] is not None and x[cov] >= q - 1e-12]

    peak = {}
    for key, cov in (("current_a", "coverage"), ("apparent_power_va", "power_coverage"),
                     ("power_w", "power_coverage")):
        best = None
        for x in qualifying(key, cov):
            if best is None or tie(x[key]) > tie(best[key]):
                best = x
        peak[key] = {"value": best[key] if best else None, "start": best["start"] if best else None}
    # Sliding: windows of one-minute integrals.
    window = length // 60
    first_minute = day_start(days[0]) // 60
    last_minute = day_start(days[-1] + datetime.timedelta(days=1)) // 60
    sliding = {}
    for key, k in (("current_a", 0), ("apparent_power_va", 2)):
        best = None
        for m in range(int(first_minute), int(last_minute) - window + 1):
            area = sum(minutes.get(60.0 * (m + j), [0, 0, 0, 0])[k] for j in range(window))
            sec = sum(minutes.get(60.0 * (m + j), [0, 0, 0, 0])[k + 1] for j in range(window))
            if sec > 0 and sec >= q * window * 60 - 1e-9:
                mean = area / sec
                if best is None or tie(mean) > tie(best[0]):
                    best = (mean, m * 60.0)
        sliding[key] = {"value": best[0] if best else None, "start": best[1] if best else None}
    power = sliding["apparent_power_va"]["value"] * pf if pf and sliding["apparent_power_va"]["value"] is not None else None
    sliding["power_w"] = {"value": power,
                          "start": sliding["apparent_power_va"]["start"] if power is not None else None}
    total_current = sum(x[0] for x in spans.values())
    total_cs = sum(x[1] for x in spans.values())
    total_sa = sum(x[2] for x in spans.values())
    total_ss = sum(x[3] for x in spans.values())
    mean = {"current_a": total_current / total_cs if total_cs else None,
            "apparent_power_va": total_sa / total_ss if total_ss else None}
    mean["power_w"] = mean["apparent_power_va"] * pf if pf and mean["apparent_power_va"] is not None else None
    load_factor = {k: (mean[k] / peak[k]["value"] if mean[k] is not None and peak[k]["value"] else None)
                   for k in mean}
    out_days = []
    for day in days:
        a, b = day_start(day), day_start(day + datetime.timedelta(days=1))
        inside = [x for x in intervals if a <= x["start"] < b]
        cs = sum(x["measured_s"] for x in inside)
        sa = sum(x["energy_vah"] or 0 for x in inside)
        has_s = any(x["energy_vah"] is not None for x in inside)
        qi = [x["current_a"] for x in inside if x["current_a"] is not None and x["coverage"] >= q - 1e-12]
        qs = [x["apparent_power_va"] for x in inside if x["apparent_power_va"] is not None and x["power_coverage"] >= q - 1e-12]
        mx = [x["max_current_a"] for x in inside if x["max_current_a"] is not None]
        out_days.append({"date": day.isoformat(), "hours": (b - a) / 3600, "measured_s": cs,
                         "coverage": cs / (b - a), "energy_vah": sa if has_s else None,
                         "energy_wh": sa * pf if has_s and pf else None,
                         "peak_current_a": max(qi) if qi else None,
                         "peak_apparent_power_va": max(qs) if qs else None,
                         "max_current_a": max(mx) if mx else None})
    shapes = {"weekday": {}, "weekend": {}}
    for x in qualifying("current_a", "coverage"):
        d = local(x["start"])
        kind = "weekend" if d.weekday() >= 5 else "weekday"
        shapes[kind].setdefault(d.strftime("%H:%M"), []).append(x["current_a"])
    average_day = {}
    for kind, by in shapes.items():
        entries = []
        for time in sorted(by):
            v = sorted(by[time])
            n = len(v)
            entries.append({"time": time, "mean_current_a": sum(v) / n,
                            "p10_current_a": v[max(1, math.ceil(0.1 * n - 1e-9)) - 1],
                            "p90_current_a": v[max(1, math.ceil(0.9 * n - 1e-9)) - 1], "count": n})
        average_day[kind] = entries
    top = sorted(qualifying("current_a", "coverage"), key=lambda x: (-tie(x["current_a"]), x["start"]))[:10]
    gaps = [b[0] - a[0] for a, b in zip(readings, readings[1:])]
    return {"name": name, "readings": len(readings), "first": first, "last": last,
            "intervals": intervals, "peak": peak, "sliding_peak": sliding, "mean": mean,
            "load_factor": load_factor, "days": out_days, "average_day": average_day,
            "top": [x["start"] for x in top],
            "duration_curve": sorted((x["current_a"] for x in qualifying("current_a", "coverage")), reverse=True),
            "longest_gap_s": max(gaps) if gaps else 0, "_minutes": minutes}


def main():
    st, meters = parse_arguments(sys.argv[1:])
    result = {"meters": [study_meter(name, files, st) for name, files in meters]}
    q = st["min"]
    if len(meters) > 1:
        ms = result["meters"]
        total = []
        for k, x in enumerate(ms[0]["intervals"]):
            rows = [m["intervals"][k] for m in ms]
            if all(r["apparent_power_va"] is not None and r["power_coverage"] >= q - 1e-12 for r in rows):
                s = sum(r["apparent_power_va"] for r in rows)
                total.append({"start": x["start"], "apparent_power_va": s,
                              "power_w": s * st["pf"] if st["pf"] else None})
        best = max(total, key=lambda t: (tie(t["apparent_power_va"]), -t["start"]), default=None)
        imbalance = []
        for k, x in enumerate(ms[0]["intervals"]):
            rows = [m["intervals"][k] for m in ms]
            if all(r["current_a"] is not None and r["coverage"] >= q - 1e-12 for r in rows):
                mean = sum(r["current_a"] for r in rows) / len(rows)
                if mean > 0:
                    imbalance.append((max(abs(r["current_a"] - mean) for r in rows) / mean * 100, x["start"]))
        worst = max(imbalance, key=lambda i: (tie(i[0]), -i[1]), default=None)
        result["total"] = {"intervals": total,
                           "peak": {"value": best["apparent_power_va"] if best else None,
                                    "start": best["start"] if best else None}}
        result["imbalance"] = {"max_percent": worst[0] if worst else None,
                               "start": worst[1] if worst else None,
                               "mean_percent": sum(i[0] for i in imbalance) / len(imbalance) if imbalance else None,
                               "intervals": len(imbalance)}
    if st["rating"] is not None:
        # Always 15-minute demand: studied again at 900 s.
        demand_st = dict(st, interval=900)
        demands = [study_meter(name, files, demand_st) for name, files in meters]
        kind = "sliding_peak" if st["demand"] == "sliding" else "peak"
        phase = max(range(len(demands)), key=lambda k: (tie(demands[k][kind]["current_a"]["value"] or -1), -k))
        d = demands[phase]
        peak = d[kind]["current_a"]
        days = (d["last"] - d["first"]) / 86400
        qualifies = days >= 30 and d["longest_gap_s"] <= 900 and peak["value"] is not None
        load = 1.25 * peak["value"] + st["new"] if peak["value"] is not None else None
        result["nec_220_87"] = {"meter": d["name"], "days": days, "longest_gap_s": d["longest_gap_s"],
                                "qualifies": qualifies, "max_demand_a": peak["value"], "at": peak["start"],
                                "load_a": load, "headroom_a": st["rating"] - load if load is not None else None,
                                "passes": load is not None and load <= st["rating"]}
    for m in result["meters"]:
        del m["_minutes"]
    print(json.dumps(result))


main()
