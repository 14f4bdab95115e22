"""What the benchmark's scripts share: where its programs stand in the
prefix, the targets, and small helpers. The installation they update is
winepe/installation.py's, as in the Wine tests.

Python standard library only.
"""
import statistics


BENCH_DIR = "C:\\bench\\"
BENCH_DIR_IN_PREFIX = ("drive_c", "bench")

MIB = 1 << 20

# The targets, as ratios of medians taken in one run.
DURABLE_RATIO = 1.3          # 64-bit quiet install against the durable floor
FLOOR_RATIO = 2.0            # 64-bit quiet install against the floor
RESIDENT_ALLOWANCE = 8 * MIB  # 64-bit peak resident memory over the durable floor's
NSIS_RATIO = 0.6             # 32-bit quiet install against NSIS, where 32-bit code runs natively
# The size besides the payload of the 32-bit installer: no larger than when
# the target was set plus what later changes added on purpose, input by
# input (size_growth.py, size_baseline.json, size_features.txt).


def log(text):
    print("bench: " + text, flush=True)


def loadavg():
    with open("/proc/loadavg") as f:
        return tuple(float(x) for x in f.read().split()[:3])


class BenchFailed(Exception):
    pass


def parse_pairs(line):
    values = {}
    for item in line.split():
        if "=" in item:
            k, v = item.split("=", 1)
            try:
                values[k] = float(v)
            except ValueError:
                values[k] = v
    return values


def stats(values):
    """Median, extremes and quartiles of a list of figures."""
    values = list(values)
    q1, _, q3 = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 else values * 3
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "q1": q1, "q3": q3,
            "n": len(values)}
