"""What the benchmark's scripts share: the demonstration installation's
names and sizes, the limits of the targets, and small helpers.

Python standard library only.
"""
import hashlib
import os
import statistics


APP_DIR = "C:\\Program Files (x86)\\Lexomir\\"
APP_DIR_IN_PREFIX = ("drive_c", "Program Files (x86)", "Lexomir")
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir"
BENCH_DIR = "C:\\bench\\"
BENCH_DIR_IN_PREFIX = ("drive_c", "bench")
TREE = "C:\\bench-tree"
TREE_IN_PREFIX = ("drive_c", "bench-tree")
EMPTY = "C:\\bench-empty"
EMPTY_IN_PREFIX = ("drive_c", "bench-empty")
UNINSTALLER_BYTES = b"MZ placeholder for the uninstaller\r\n"
# The file an update replaces: each run starts from an older data file.
OLD_DATA = b"LXNC\x01\xe8\x03" + b"an older data file that the update replaces\r\n" * 50

TREE_FILES = 20000
TREE_LEVELS = 10
TREE_SEED = 8

MIB = 1 << 20
PRIVATE_ALLOWANCE = 8 * MIB
SIZE_LIMIT = 256 * 1024


def log(text):
    print("bench: " + text, flush=True)


def win_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


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
    return {"median": statistics.median(values), "min": min(values), "max": max(values), "n": len(values)}
