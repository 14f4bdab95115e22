#!/usr/bin/env python3
"""Measures the installer against a general-purpose installer (NSIS) and
against the floor, in one warm Wine prefix, and writes docs/BENCHMARKS.md
with a chart. Started by bench/run.sh, which builds everything first.

  bench.py --win-build DIR --bench-build DIR --nsis EXE --standin EXE
           --work DIR --doc FILE --chart FILE [--runs N] [--mem-runs N]

Every run of every program is checked: its exit code, the data file's bytes
and, for the two installers, the EstimatedSize value. A failed check stops
the benchmark; figures of a run that did not do the job are never used.

Python standard library only.
"""
import argparse
import datetime
import hashlib
import json
import os
import random
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

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


class Wine:
    def __init__(self, prefix):
        self.prefix = prefix
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all")
        self.env.pop("WINELOADER", None)

    def run(self, args, timeout=300, env=None, check=True):
        e = dict(self.env)
        if env:
            e.update(env)
        # Output to a file, never a pipe: processes started inside Wine
        # inherit the handles and could hold a pipe open.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run(args, env=e, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                               timeout=timeout)
            out.seek(0)
            text = out.read().decode("utf-8", errors="replace")
        if check and p.returncode != 0:
            raise BenchFailed("command failed (%d): %s\n%s" % (p.returncode, " ".join(args), text))
        return p.returncode, text

    def reg(self, *args, check=True):
        return self.run(["wine", "reg"] + list(args), check=check)

    def create(self):
        if os.path.exists(self.prefix):
            shutil.rmtree(self.prefix)
        os.makedirs(self.prefix)
        self.run(["wineboot", "-i"], timeout=600)
        self.run(["wineserver", "-w"], timeout=300)
        self.reg("add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f")
        self.run(["wine", "winecfg", "-v", "win10"])
        self.run(["wineserver", "-w"], timeout=300)
        # One server for the whole benchmark: every run finds the prefix warm.
        self.run(["wineserver", "-p"])

    def stop(self):
        self.run(["wineserver", "-k"], check=False, timeout=120)
        self.run(["wineserver", "-w"], check=False, timeout=120)


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


class Bench:
    def __init__(self, opts):
        self.o = opts
        self.wine = Wine(os.path.join(opts.work, "prefix"))
        self.app_dir = os.path.join(self.wine.prefix, *APP_DIR_IN_PREFIX)
        self.bench_dir = os.path.join(self.wine.prefix, *BENCH_DIR_IN_PREFIX)
        self.tree_dir = os.path.join(self.wine.prefix, *TREE_IN_PREFIX)
        self.phases_out = os.path.join(opts.work, "phases.txt")
        self.installer = os.path.join(opts.win_build, "LexomirUpdate.exe")
        self.payload = os.path.join(opts.win_build, "payload", "lxn.cok")
        self.payload_size = os.path.getsize(self.payload)
        self.payload_sha = sha256_file(self.payload)
        self.rng = random.Random(opts.seed)
        self.results = {}
        self.loads = []
        with open("/proc/cpuinfo") as f:
            self.shani = " sha_ni" in f.read()

    # ---- the demonstration installation ---------------------------------------------
    def setup(self):
        log("making a win64 prefix in %s" % self.wine.prefix)
        self.wine.create()
        os.makedirs(self.app_dir, exist_ok=True)
        shutil.copyfile(self.o.standin, os.path.join(self.app_dir, "Lexomir.exe"))
        with open(os.path.join(self.app_dir, "unins000.exe"), "wb") as f:
            f.write(UNINSTALLER_BYTES)
        self.wine.reg("add", UNINSTALL_KEY, "/v", "UninstallString", "/t", "REG_SZ", "/d",
                      APP_DIR + "unins000.exe", "/f", "/reg:64")
        os.makedirs(self.bench_dir, exist_ok=True)
        b = self.o.bench_build
        self.programs = {
            "LexomirUpdate.exe": self.installer,
            "nsis_update.exe": self.o.nsis,
            "floor.exe": os.path.join(b, "floor.exe"),
            "noop.exe": os.path.join(b, "noop.exe"),
            "noop_payload.exe": os.path.join(b, "noop_payload.exe"),
            "noop_dlls.exe": os.path.join(b, "noop_dlls.exe"),
            "phases.exe": os.path.join(b, "phases.exe"),
            "write_steps.exe": os.path.join(b, "write_steps.exe"),
            "hashspeed.exe": os.path.join(b, "hashspeed.exe"),
            "foldersize.exe": os.path.join(b, "foldersize.exe"),
            "launcher.exe": os.path.join(b, "launcher.exe"),
            "noop_aligned.exe": os.path.join(b, "noop_aligned.exe"),
            "installer_aligned.exe": os.path.join(b, "installer_aligned.exe"),
        }
        if self.shani:
            for name in ("installer_shani.exe", "installer_shani_aligned.exe"):
                self.programs[name] = os.path.join(b, name)
        for name, path in self.programs.items():
            shutil.copyfile(path, os.path.join(self.bench_dir, name))
        # The size the installer must report: the folder after the update.
        self.expected_kb = (os.path.getsize(self.o.standin) + len(UNINSTALLER_BYTES) + self.payload_size) >> 10

    def reset(self, registry):
        for name in ("lxn.cok", "~lxn.cok"):
            p = os.path.join(self.app_dir, name)
            if os.path.exists(p):
                os.remove(p)
        with open(os.path.join(self.app_dir, "lxn.cok"), "wb") as f:
            f.write(OLD_DATA)
        if registry:
            self.wine.reg("delete", UNINSTALL_KEY, "/v", "EstimatedSize", "/f", "/reg:64", check=False)
        # Every run starts with nothing of an earlier run left to write back.
        os.sync()
        time.sleep(0.2)

    def estimated_size(self):
        rc, out = self.wine.reg("query", UNINSTALL_KEY, "/v", "EstimatedSize", "/reg:64", check=False)
        if rc != 0:
            return None
        for line in out.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == "EstimatedSize" and parts[1] == "REG_DWORD":
                return int(parts[2], 16)
        return None

    def check_data(self, label):
        p = os.path.join(self.app_dir, "lxn.cok")
        if not os.path.exists(p) or os.path.getsize(p) != self.payload_size or sha256_file(p) != self.payload_sha:
            raise BenchFailed("%s: lxn.cok is not the payload after the run" % label)
        if os.path.exists(os.path.join(self.app_dir, "~lxn.cok")):
            raise BenchFailed("%s: the temporary file was left behind" % label)

    def launch(self, args, poll=0, env=None, cwd=None):
        cmd = ["wine", BENCH_DIR + "launcher.exe"]
        if poll:
            cmd += ["--poll", str(poll)]
        if cwd:
            cmd += ["--cwd", cwd]
        cmd += ["--"] + args
        _, out = self.wine.run(cmd, env=env)
        line = next((l for l in out.splitlines() if l.startswith("exit=")), None)
        if line is None:
            raise BenchFailed("the launcher printed no result for %s:\n%s" % (" ".join(args), out))
        r = parse_pairs(line)
        r["output"] = out
        return r

    # ---- the install runs --------------------------------------------------------------
    SUBJECTS = {
        # name: (command line, writes the data file, writes EstimatedSize)
        "installer": ([BENCH_DIR + "LexomirUpdate.exe", "modest"], True, True),
        "nsis": ([BENCH_DIR + "nsis_update.exe", "/S"], True, True),
        "floor": ([BENCH_DIR + "floor.exe"], True, False),
        "phases": ([BENCH_DIR + "phases.exe"], True, True),
        "noop": ([BENCH_DIR + "noop.exe"], False, False),
        "noop_payload": ([BENCH_DIR + "noop_payload.exe"], False, False),
        "noop_dlls": ([BENCH_DIR + "noop_dlls.exe"], False, False),
        "noop_aligned": ([BENCH_DIR + "noop_aligned.exe"], False, False),
        # The installer with one change each (bench/CMakeLists.txt).
        "installer_aligned": ([BENCH_DIR + "installer_aligned.exe", "modest"], True, True),
        "installer_shani": ([BENCH_DIR + "installer_shani.exe", "modest"], True, True),
        "installer_shani_aligned": ([BENCH_DIR + "installer_shani_aligned.exe", "modest"], True, True),
    }

    def run_subject(self, name, poll=0):
        args, writes, sized = self.SUBJECTS[name]
        self.reset(registry=sized)
        env = {"BENCH_PHASES_OUT": win_path(self.phases_out)} if name == "phases" else None
        if name == "phases" and os.path.exists(self.phases_out):
            os.remove(self.phases_out)
        r = self.launch(args, poll=poll, env=env)
        if int(r["exit"]) != 0:
            raise BenchFailed("%s exited with %d (expected 0)\n%s" % (name, int(r["exit"]), r["output"]))
        if writes:
            self.check_data(name)
        if sized:
            got = self.estimated_size()
            if got != self.expected_kb:
                raise BenchFailed("%s: EstimatedSize is %r, expected %d" % (name, got, self.expected_kb))
        if name == "phases":
            with open(self.phases_out) as f:
                r["phases"] = parse_pairs(f.read().strip().splitlines()[-1])
            if int(r["phases"]["code"]) != 0:
                raise BenchFailed("phases harness reported code %d" % int(r["phases"]["code"]))
        return r

    def subjects(self):
        return [n for n in self.SUBJECTS if self.shani or "shani" not in n]

    def install_runs(self):
        names = self.subjects()
        log("warming up: each program twice")
        for _ in range(2):
            for n in names:
                self.run_subject(n)
        times = {n: [] for n in names}
        phases = []
        pairs = {"nsis": [], "floor": []}
        self.loads.append(("install timing, start", loadavg()))
        for i in range(self.o.runs):
            order = names[:]
            self.rng.shuffle(order)
            this = {}
            for n in order:
                r = self.run_subject(n)
                this[n] = r["wall_ms"]
                times[n].append(r["wall_ms"])
                if n == "phases":
                    p = dict(r["phases"])
                    p["wall"] = r["wall_ms"]
                    phases.append(p)
            for other in pairs:
                pairs[other].append(this["installer"] / this[other])
            log("round %d/%d: %s" % (i + 1, self.o.runs,
                                      " ".join("%s=%.0f" % (n, this[n]) for n in names)))
        self.loads.append(("install timing, end", loadavg()))
        self.results["times"] = {n: stats(v) for n, v in times.items()}
        self.results["raw_times"] = times
        self.results["pair_ratios"] = {k: stats(v) for k, v in pairs.items()}
        keys = ["startup", "init", "discover", "probe", "selfcheck", "write", "size", "release", "inprocess", "wall"]
        self.results["phases"] = {k: stats([p[k] for p in phases]) for k in keys}
        self.results["raw_phases"] = phases
        self.results["phases_exit"] = stats([p["wall"] - p["startup"] - p["inprocess"] for p in phases])

    def memory_runs(self):
        names = [n for n in ("installer", "nsis", "floor", "noop_payload", "noop", "noop_aligned",
                             "installer_aligned", "installer_shani", "installer_shani_aligned")
                 if n in self.subjects()]
        mem = {n: {"peak_ws": [], "peak_private": [], "samples": []} for n in names}
        self.loads.append(("memory, start", loadavg()))
        for i in range(self.o.mem_runs):
            order = names[:]
            self.rng.shuffle(order)
            for n in order:
                r = self.run_subject(n, poll=1)
                if r["samples"] < 1 or r["peak_ws"] <= 0:
                    raise BenchFailed("%s: no memory sample was taken" % n)
                for k in ("peak_ws", "peak_private", "samples"):
                    mem[n][k].append(r[k])
            log("memory round %d/%d done" % (i + 1, self.o.mem_runs))
        self.loads.append(("memory, end", loadavg()))
        self.results["memory"] = {n: {k: stats(v) for k, v in d.items()} for n, d in mem.items()}

    def write_step_runs(self):
        modes = ["product", "nocopy", "noflush"]
        steps = {m: [] for m in modes}
        for i in range(self.o.runs):
            order = modes[:]
            self.rng.shuffle(order)
            for m in order:
                self.reset(registry=False)
                r = self.launch([BENCH_DIR + "write_steps.exe", m])
                if int(r["exit"]) != 0:
                    raise BenchFailed("write_steps %s exited with %d" % (m, int(r["exit"])))
                self.check_data("write_steps " + m)
                line = next(l for l in r["output"].splitlines() if l.startswith("mode="))
                steps[m].append(parse_pairs(line))
        keys = ["find", "copy", "create", "write", "flush", "close", "move", "free", "total"]
        self.results["write_steps"] = {m: {k: stats([s[k] for s in v]) for k in keys} for m, v in steps.items()}
        self.results["raw_write_steps"] = steps

    def hash_runs(self):
        _, out = self.wine.run(["wine", BENCH_DIR + "hashspeed.exe", BENCH_DIR + "LexomirUpdate.exe",
                                str(self.o.runs)])
        rows = [parse_pairs(l) for l in out.splitlines() if l.startswith("method=")]
        digests = {r["digest"] for r in rows if r["digest"] != "-"}
        if len(digests) != 1 or sha256_file(self.installer) not in digests:
            raise BenchFailed("hashspeed: the methods disagree or miss the file's SHA-256: %s" % digests)
        methods = []
        for r in rows:
            if r["method"] not in methods:
                methods.append(r["method"])
        self.results["hash"] = {m: {"ms": stats([r["ms"] for r in rows if r["method"] == m]),
                                    "mib_s": stats([r["mib_s"] for r in rows if r["method"] == m])}
                                for m in methods}

    # ---- FolderSizeKb against dir /s ---------------------------------------------------------
    def make_tree(self):
        """TREE_FILES files in a binary tree of TREE_LEVELS levels of folders;
        sparse files with sizes from 0 to 99,999 bytes."""
        if os.path.exists(self.tree_dir):
            shutil.rmtree(self.tree_dir)
        folders = [self.tree_dir]
        level = [self.tree_dir]
        for _ in range(TREE_LEVELS - 1):
            nxt = []
            for d in level:
                for k in range(2):
                    nxt.append(os.path.join(d, "folder%d" % k))
            folders += nxt
            level = nxt
        for d in folders:
            os.makedirs(d, exist_ok=True)
        rng = random.Random(TREE_SEED)
        total = 0
        for i in range(TREE_FILES):
            size = rng.randrange(100000)
            with open(os.path.join(folders[i % len(folders)], "file%05d.dat" % i), "wb") as f:
                f.truncate(size)
            total += size
        os.makedirs(os.path.join(self.wine.prefix, *EMPTY_IN_PREFIX), exist_ok=True)
        self.tree = {"files": TREE_FILES, "folders": len(folders), "levels": TREE_LEVELS, "bytes": total}

    def folder_runs(self):
        self.make_tree()
        expected_kb = self.tree["bytes"] >> 10
        # dir /s must see the same tree: its grand total, once, in a file.
        listing = os.path.join(self.o.work, "dir.txt")
        self.launch(["cmd.exe", "/c", "dir /s /a %s > %s" % (TREE, win_path(listing))])
        with open(listing, "rb") as f:
            text = f.read().decode("latin-1")
        totals = re.findall(r"([\d,. ]+) files? ([\d,. ]+) bytes", text, re.IGNORECASE)
        dir_files = dir_bytes = None
        if totals:
            dir_files = int(re.sub(r"\D", "", totals[-1][0]))
            dir_bytes = int(re.sub(r"\D", "", totals[-1][1]))
        self.tree["dir_files"], self.tree["dir_bytes"] = dir_files, dir_bytes

        subjects = {
            "FolderSizeKb": [BENCH_DIR + "foldersize.exe", TREE],
            "dir /s /a": ["cmd.exe", "/c", "dir /s /a %s > NUL" % TREE],
            "FolderSizeKb, empty folder": [BENCH_DIR + "foldersize.exe", EMPTY],
            "cmd /c rem": ["cmd.exe", "/c", "rem"],
        }
        names = list(subjects)
        for n in names:  # warm the caches
            self.launch(subjects[n])
        walls = {n: [] for n in names}
        inproc = []
        self.loads.append(("folder walk, start", loadavg()))
        for i in range(self.o.runs):
            order = names[:]
            self.rng.shuffle(order)
            for n in order:
                r = self.launch(subjects[n])
                if int(r["exit"]) != 0:
                    raise BenchFailed("%s exited with %d" % (n, int(r["exit"])))
                walls[n].append(r["wall_ms"])
                if n == "FolderSizeKb":
                    line = next(l for l in r["output"].splitlines() if l.startswith("kb="))
                    v = parse_pairs(line)
                    if int(v["kb"]) != expected_kb:
                        raise BenchFailed("FolderSizeKb gave %d KiB, expected %d" % (int(v["kb"]), expected_kb))
                    inproc.append(v["ms"])
        self.loads.append(("folder walk, end", loadavg()))
        self.tree["expected_kb"] = expected_kb
        self.results["folder"] = {n: stats(v) for n, v in walls.items()}
        self.results["folder_inprocess"] = stats(inproc)
        ratio = [a / b for a, b in zip(walls["FolderSizeKb"], walls["dir /s /a"])]
        self.results["folder_pair_ratio"] = stats(ratio)

    # ---- sizes -------------------------------------------------------------------------------
    def sizes(self):
        floor = self.programs["floor.exe"]
        self.results["sizes"] = {
            "installer": os.path.getsize(self.installer) - self.payload_size,
            "nsis": os.path.getsize(self.o.nsis) - self.payload_size,
            "floor": os.path.getsize(floor) - self.payload_size,
        }
        self.results["sections"] = pe_sections(self.installer)
        self.results["imports"] = {"installer": pe_imports(self.installer),
                                   "noop_dlls": pe_imports(self.programs["noop_dlls.exe"]),
                                   "floor": pe_imports(self.programs["floor.exe"])}
        mapfile = os.path.join(self.o.bench_build, "installer.map")
        self.results["map"] = map_breakdown(mapfile) if os.path.exists(mapfile) else None
        self.results["demangler"] = map_member(mapfile, "cp-demangle.o", ".text") if os.path.exists(mapfile) else 0
        self.results["experiments"] = {
            name: os.path.getsize(os.path.join(self.o.bench_build, name + ".exe")) - self.payload_size
            for name in ("size_as_built", "installer_aligned")}

    def run(self):
        self.loads.append(("start", loadavg()))
        self.setup()
        try:
            self.sizes()
            self.install_runs()
            self.memory_runs()
            self.write_step_runs()
            self.hash_runs()
            self.folder_runs()
        finally:
            self.wine.stop()
        self.loads.append(("end", loadavg()))
        return self.results


def pe_imports(path):
    """The DLLs a PE file imports, upper case, sorted."""
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    return sorted({m.upper() for m in re.findall(r"DLL Name: (\S+)", out)})


def pe_sections(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + opt_size
    out = []
    for i in range(count):
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        out.append({"name": name.rstrip(b"\0").decode("latin-1"), "vsize": vsize, "rawsize": rawsize})
    return out


def map_member(path, member, section):
    """Bytes of one output section that come from one archive member."""
    total = 0
    current = None
    pending = None
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            top = re.match(r"^(\.[a-z_]+)\s", line)
            if top:
                current = top.group(1)
                continue
            if pending and re.match(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+\S+$", line):
                line = " " + pending + line
            pending = None
            m = re.match(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$", line)
            if not m:
                m2 = re.match(r"^ (\.\S+)$", line)
                pending = m2.group(1) if m2 else None
                continue
            if current == section and m.group(4).endswith("(%s)" % member):
                total += int(m.group(3), 16)
    return total


def map_breakdown(path):
    """Bytes of .text, .rdata, .data and .eh_frame by where they come from,
    read from a GNU ld map file."""
    groups = {}
    section = None
    entry = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$")
    pending = None
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            top = re.match(r"^(\.[a-z_]+)\s", line)
            if top:
                section = top.group(1)
                continue
            if pending and re.match(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+\S+$", line):
                line = " " + pending + line
                pending = None
            m = entry.match(line)
            if not m:
                m2 = re.match(r"^ (\.\S+)$", line)
                pending = m2.group(1) if m2 else None
                continue
            size = int(m.group(3), 16)
            if size == 0 or section not in (".text", ".rdata", ".data", ".eh_frame"):
                continue
            src = m.group(4)
            if "bench_product.dir" in src or "installer_map.dir" in src:
                who = "product code"
            elif "libstdc++" in src or "libsupc++" in src:
                who = "libstdc++"
            elif "libgcc" in src:
                who = "libgcc / libgcc_eh"
            elif "libmingwex" in src or "libmingw32" in src or "crt" in os.path.basename(src) or "libmoldname" in src:
                who = "MinGW C runtime"
            elif "libmsvcrt" in src or src.endswith(".a)") and "lib" in src:
                who = "import stubs and other libraries"
            else:
                who = "other"
            groups.setdefault(who, {}).setdefault(section, 0)
            groups[who][section] += size
    return groups


# ---- the report ----------------------------------------------------------------------------

def fmt_ms(s):
    return "%.1f" % s["median"], "%.1f" % s["min"], "%.1f" % s["max"]


def mb(n):
    return "%.2f" % (n / 1e6)


def machine_facts():
    facts = {}
    facts["nproc"] = subprocess.run(["nproc"], stdout=subprocess.PIPE, text=True).stdout.strip()
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    facts["cpu"] = model
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                facts["mem"] = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
    facts["wine"] = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    facts["kernel"] = os.uname().release
    facts["mingw"] = subprocess.run(["i686-w64-mingw32-gcc", "-dumpversion"], stdout=subprocess.PIPE,
                                    text=True).stdout.strip()
    facts["nsis"] = subprocess.run(["makensis", "-VERSION"], stdout=subprocess.PIPE, text=True).stdout.strip()
    return facts


def write_chart(results, path, workdir, tree, subjects):
    t = results["times"]
    f = results["folder"]
    ph = results["phases"]
    data = os.path.join(workdir, "chart_install.dat")
    with open(data, "w") as out:
        # label median min max colour-group (0 the three compared, 1 changed installers, 2 references)
        for label, key, group in (("floor", "floor", 0), ("installer", "installer", 0), ("NSIS", "nsis", 0),
                                  ("installer,\\nSHA extensions", "installer_shani", 1),
                                  ("installer,\\n4 KiB file alignment", "installer_aligned", 1),
                                  ("installer,\\nboth changes", "installer_shani_aligned", 1),
                                  ("no-op", "noop", 2), ("no-op with the\\n28 MB resource", "noop_payload", 2),
                                  ("the same,\\n4 KiB file alignment", "noop_aligned", 2),
                                  ("no-op with the installer's\\nDLLs and manifest", "noop_dlls", 2)):
            if key not in t:
                continue
            s = t[key]
            out.write('"%s" %.3f %.3f %.3f %d\n' % (label, s["median"], s["min"], s["max"], group))
    fdata = os.path.join(workdir, "chart_folder.dat")
    with open(fdata, "w") as out:
        for label, key in (("FolderSizeKb", "FolderSizeKb"), ("dir /s /a", "dir /s /a"),
                           ("FolderSizeKb,\\nempty folder", "FolderSizeKb, empty folder"),
                           ("cmd /c rem", "cmd /c rem")):
            s = f[key]
            out.write('"%s" %.3f %.3f %.3f\n' % (label, s["median"], s["min"], s["max"]))
    pdata = os.path.join(workdir, "chart_phases.dat")
    rest = ph["init"]["median"] + ph["discover"]["median"] + ph["probe"]["median"] + ph["release"]["median"]
    parts = [("start-up", ph["startup"]["median"]), ("self-check hash", ph["selfcheck"]["median"]),
             ("file write", ph["write"]["median"]), ("size walk", ph["size"]["median"]),
             ("rest in process", rest), ("exit", max(results["phases_exit"]["median"], 0.0))]
    with open(pdata, "w") as out:
        out.write("label " + " ".join('"%s"' % p[0] for p in parts) + ' "floor, whole run"\n')
        out.write('"installer (phase harness)" ' + " ".join("%.3f" % p[1] for p in parts) + " 0\n")
        out.write('"floor" ' + " ".join("0" for _ in parts) + " %.3f\n" % t["floor"]["median"])
    script = """
set terminal pngcairo size 1500,1050 font "sans,10"
set output '%(png)s'
set multiplot
set style fill solid 0.7 border -1
set grid ytics
set yrange [0:*]
set boxwidth 0.6
set xtics scale 0 noenhanced
set size 1,0.5
set origin 0,0.5
set title "Quiet install of the 28 MB data file under Wine: wall time, %(n)d runs each (median; bars: min to max)" noenhanced
set ylabel "ms"
set palette defined (0 "#4a7ebb", 1 "#e69138", 2 "#999999")
set cbrange [0:2]
unset colorbox
plot '%(data)s' using 0:2:5:xtic(1) with boxes lc palette notitle, \\
     '' using 0:2:3:4 with yerrorbars lc rgb "black" pt 0 notitle
set size 0.5,0.5
set origin 0,0
set bmargin 5
set title "Where the installer's time goes (medians)" noenhanced
set style data histograms
set style histogram rowstacked
set boxwidth 0.5
set key outside right center vertical noenhanced
plot for [i=2:8] '%(pdata)s' using i:xtic(1) title columnheader(i)
unset key
set style data boxes
set boxwidth 0.6
set origin 0.5,0
set title "Folder size over %(files)d files in %(levels)d levels, %(n)d runs each" noenhanced
set ylabel "ms per process run (median; bars: min to max)"
plot '%(fdata)s' using 0:2:xtic(1) with boxes lc rgb "#6aa84f" notitle, \\
     '' using 0:2:3:4 with yerrorbars lc rgb "black" pt 0 notitle
unset multiplot
""" % {"png": path, "data": data, "pdata": pdata, "fdata": fdata, "n": t["installer"]["n"],
       "files": tree["files"], "levels": tree["levels"]}
    gp = os.path.join(workdir, "chart.gp")
    with open(gp, "w") as out:
        out.write(script)
    subprocess.run(["gnuplot", gp], check=True)


def verdict(ok):
    return "**met**" if ok else "**missed**"


def ms_cell(s):
    return "%.1f (%.1f – %.1f)" % (s["median"], s["min"], s["max"])


def write_doc(b, results, opts, facts):
    r = results
    t = r["times"]
    inst, nsis, floor = t["installer"], t["nsis"], t["floor"]
    mem = r["memory"]
    sizes = r["sizes"]
    payload = b.payload_size
    fo = r["folder"]
    tree = b.tree
    private_limit = 2 * payload + PRIVATE_ALLOWANCE
    inst_private = mem["installer"]["peak_private"]["median"]
    folder_walk = r["folder_inprocess"]["median"]
    dir_walk = fo["dir /s /a"]["median"] - fo["cmd /c rem"]["median"]
    fsk_proc = fo["FolderSizeKb"]["median"]
    dir_proc = fo["dir /s /a"]["median"]

    targets = {
        "nsis": ("Quiet install time ≤ NSIS's", "%.1f ms against %.1f ms: ratio %.2f"
                 % (inst["median"], nsis["median"], inst["median"] / nsis["median"]),
                 inst["median"] <= nsis["median"]),
        "floor": ("Quiet install time ≤ 1.5 × the floor", "%.1f ms against 1.5 × %.1f = %.1f ms: ratio %.2f"
                  % (inst["median"], floor["median"], 1.5 * floor["median"], inst["median"] / floor["median"]),
                  inst["median"] <= 1.5 * floor["median"]),
        "private": ("Peak private bytes ≤ 2 × payload + 8 MiB", "%s MB against %s MB"
                    % (mb(inst_private), mb(private_limit)), inst_private <= private_limit),
        "size": ("Executable size − payload ≤ 256 KiB", "%d bytes (%.1f KiB) against 262,144"
                 % (sizes["installer"], sizes["installer"] / 1024), sizes["installer"] <= SIZE_LIMIT),
        "folder": ("FolderSizeKb on %d files no slower than `dir /s`" % tree["files"],
                   "whole process %.1f ms against %.1f ms; the walk alone %.1f ms against %.1f ms"
                   % (fsk_proc, dir_proc, folder_walk, dir_walk),
                   fsk_proc <= dir_proc and folder_walk <= dir_walk),
    }

    L = []
    w = L.append
    w("# Benchmarks")
    w("")
    w("How long a quiet update takes and how much memory and disk it needs, against a general-purpose")
    w("installer doing the same job (NSIS) and against the floor set by the work itself. The benchmark")
    w("writes this file; see the end for how to run it.")
    w("")
    w("Produced by `%s` on %s, measuring %s." % (opts.command, opts.run_date.strftime("%Y-%m-%d %H:%M"),
                                               opts.source_note))
    w("")
    w("![Install times, the installer's phases, folder size walk](%s)"
      % os.path.relpath(opts.chart, os.path.dirname(opts.doc)))
    w("")
    w("## Targets")
    w("")
    w("| target | measured (medians) | verdict |")
    w("|---|---|---|")
    for key in ("nsis", "floor", "private", "size", "folder"):
        name, text, ok = targets[key]
        w("| %s | %s | %s |" % (name, text, verdict(ok)))
    w("")
    w("## Machine")
    w("")
    w("| | |")
    w("|---|---|")
    w("| processors (nproc) | %s |" % facts["nproc"])
    w("| CPU | %s |" % facts["cpu"])
    w("| memory | %s |" % facts["mem"])
    w("| kernel | Linux %s |" % facts["kernel"])
    w("| Wine | %s; win64 prefix set to Windows 10, null graphics driver, `WINEDEBUG=-all` |" % facts["wine"])
    w("| compilers | MinGW-w64 gcc %s (i686); NSIS %s |" % (facts["mingw"], facts["nsis"]))
    w("| load average (1, 5, 15 min) | %s |" % "; ".join("%s: %s" % (k, ", ".join("%.2f" % x for x in v))
                                                        for k, v in b.loads))
    w("")
    nproc = float(facts["nproc"])
    # The first reading comes straight after the builds, before anything is measured.
    measured = [(k, v) for k, v in b.loads if k != "start"]
    busy = [k for k, v in measured if v[0] > nproc]
    if busy:
        w("**The machine was busy** at some points of this run: the 1-minute load average was above the")
        w("number of processors at %s (other builds and tests share it). Every program of a table ran in"
          % ("all points measured" if len(busy) == len(measured) else "these points: " + "; ".join(busy)))
        w("the same rounds, in an order shuffled each round, so the load fell on all of them alike; the")
        w("ratios are the figures to go by, the absolute times are high and their spread is wide.")
        w("")
    else:
        w("The 1-minute load average stayed at or below the number of processors while the benchmark")
        w("measured (the first reading follows the builds).")
        w("")
    w("## Install time")
    w("")
    w("Wall time from just before `CreateProcess` to the end of the wait, taken inside Wine by")
    w("`bench/launcher.c` with `QueryPerformanceCounter`. %d runs of each program, after two warm-up runs,"
      % inst["n"])
    w("in rounds that run every program once in a shuffled order, all in one warm prefix with one")
    w("persistent wineserver. Before each run the folder holds an older 2 KB `lxn.cok`, `EstimatedSize`")
    w("is deleted and the page cache is synced, outside the timing. After each run the benchmark checks")
    w("the exit code (0), the data file (the payload's SHA-256, no `~lxn.cok` left) and, for the")
    w("installers, `EstimatedSize` (%d KiB: the folder after the update). The demonstration" % b.expected_kb)
    w("installation is `%s` with `Lexomir.exe` (the Wine tests' stand-in application, not" % APP_DIR)
    w("running) and the uninstall entry `%s` (64-bit view) with `UninstallString`." % UNINSTALL_KEY)
    w("")
    w("| program | median ms | min | max |")
    w("|---|---:|---:|---:|")
    rows = [("this installer: `LexomirUpdate.exe modest`", "installer"),
            ("NSIS installer: `/S`, uncompressed, CRC check on (`bench/nsis/update.nsi`)", "nsis"),
            ("floor: find the resource, one `WriteFile` (`bench/floor.c`)", "floor"),
            ("phase harness: the installer's sequence with timestamps", "phases"),
            ("installer, self-check hash on the SHA extensions (experiment)", "installer_shani"),
            ("installer, sections at 4 KiB in the file (experiment)", "installer_aligned"),
            ("installer, both changes (experiment)", "installer_shani_aligned"),
            ("no-op program", "noop"),
            ("no-op carrying the 28 MB resource", "noop_payload"),
            ("no-op carrying the 28 MB resource, sections at 4 KiB", "noop_aligned"),
            ("no-op with the installer's imports and manifest", "noop_dlls")]
    for label, key in rows:
        if key in t:
            w("| %s | %s | %s | %s |" % ((label,) + fmt_ms(t[key])))
    w("")
    pr = r["pair_ratios"]
    w("| ratio | of the medians | per round: median (min – max) |")
    w("|---|---:|---:|")
    w("| installer ÷ NSIS | %.2f | %.2f (%.2f – %.2f) |" % (inst["median"] / nsis["median"], pr["nsis"]["median"],
                                                         pr["nsis"]["min"], pr["nsis"]["max"]))
    w("| installer ÷ floor | %.2f | %.2f (%.2f – %.2f) |" % (inst["median"] / floor["median"],
                                                          pr["floor"]["median"], pr["floor"]["min"],
                                                          pr["floor"]["max"]))
    w("")
    w("## Memory")
    w("")
    w("Peak working set and peak private bytes from `GetProcessMemoryInfo` (`PROCESS_MEMORY_COUNTERS_EX`),")
    w("%d runs of each program in rounds of their own: for these the launcher samples the counters every"
      % mem["installer"]["peak_ws"]["n"])
    w("millisecond while the program runs (`--poll 1`), which would disturb the timing. Under Wine")
    w("`PrivateUsage` and `PeakPagefileUsage` are the process's anonymous resident memory at the moment")
    w("of the call, not a peak, and an ended process has no counters left, so the largest sample is")
    w("taken as the peak; `PeakWorkingSetSize` is the kernel's high-water mark (VmHWM).")
    w("")
    w("| program | peak working set MB: median (min – max) | peak private MB: median (min – max) |")
    w("|---|---:|---:|")
    for label, key in (("this installer", "installer"), ("NSIS installer", "nsis"), ("floor", "floor"),
                       ("installer, SHA extensions (experiment)", "installer_shani"),
                       ("installer, sections at 4 KiB (experiment)", "installer_aligned"),
                       ("installer, both changes (experiment)", "installer_shani_aligned"),
                       ("no-op carrying the 28 MB resource", "noop_payload"),
                       ("the same, sections at 4 KiB", "noop_aligned"), ("no-op", "noop")):
        if key not in mem:
            continue
        m = mem[key]
        w("| %s | %s (%s – %s) | %s (%s – %s) |" % (label, mb(m["peak_ws"]["median"]), mb(m["peak_ws"]["min"]),
                                                   mb(m["peak_ws"]["max"]), mb(m["peak_private"]["median"]),
                                                   mb(m["peak_private"]["min"]), mb(m["peak_private"]["max"])))
    w("")
    w("The installer's limit: 2 × %d + 8 MiB = %d bytes (%s MB)." % (payload, private_limit, mb(private_limit)))
    w("")
    w("## Executable size")
    w("")
    w("| program | file bytes | less the %d-byte payload |" % payload)
    w("|---|---:|---:|")
    for label, key, path in (("this installer", "installer", b.installer), ("NSIS installer", "nsis", opts.nsis),
                             ("floor", "floor", b.programs["floor.exe"])):
        w("| %s | %d | %d (%.1f KiB) |" % (label, os.path.getsize(path), sizes[key], sizes[key] / 1024))
    w("")
    w("Sections of `LexomirUpdate.exe`, raw bytes in the file:")
    w("")
    w("| " + " | ".join("`%s`" % s["name"] for s in r["sections"]) + " |")
    w("|" + "---:|" * len(r["sections"]))
    w("| " + " | ".join("%d" % s["rawsize"] for s in r["sections"]) + " |")
    w("")
    if r["map"]:
        w("Where the code and constant data come from: a map file of the same objects linked the same way")
        w("(`bench/CMakeLists.txt`, target `installer_map`), bytes of input sections:")
        w("")
        w("| from | .text | .rdata | .eh_frame | .data |")
        w("|---|---:|---:|---:|---:|")
        for who, secs in sorted(r["map"].items(), key=lambda kv: -sum(kv[1].values())):
            w("| %s | %d | %d | %d | %d |" % (who, secs.get(".text", 0), secs.get(".rdata", 0),
                                              secs.get(".eh_frame", 0), secs.get(".data", 0)))
        w("")
        if r.get("demangler", 0) > 0:
            w("The largest single piece is libstdc++'s C++ demangler, `cp-demangle.o` (%d bytes of"
              % r["demangler"])
            w("`.text`), which only the default terminate handler (`__gnu_cxx::__verbose_terminate_handler`,")
            w("it prints the type of an uncaught exception) calls.")
            w("")
    ex = r["experiments"]
    if ex["size_as_built"] == sizes["installer"]:
        w("The benchmark's own link of the installer's objects (`size_as_built`) gives the same %d bytes,"
          % sizes["installer"])
        w("so the experiments below are the installer with only their one change.")
    else:
        w("**Note:** the benchmark's own link of the installer's objects (`size_as_built`) gives %d bytes,"
          % ex["size_as_built"])
        w("not the installer's %d: `bench/CMakeLists.txt` no longer builds as `cmake/windows.cmake` does,"
          % sizes["installer"])
        w("and the experiments below differ from the installer by more than their one change.")
    w("")
    w("## FolderSizeKb against dir /s")
    w("")
    w("A tree of %d files in %d folders, %d levels deep (a binary tree), sparse files of 0 to 99,999"
      % (tree["files"], tree["folders"], tree["levels"]))
    w("bytes, %d bytes in all (%d KiB). `bench/foldersize.cpp`, built from the product's" % (tree["bytes"],
                                                                                           tree["expected_kb"]))
    w("`install/installed_size.cpp` and what it links with, calls `FolderSizeKb` once and prints the result")
    w("and its own timing; every run is checked to give %d KiB." % tree["expected_kb"])
    if tree.get("dir_bytes") is not None:
        w("`dir /s /a` sees the same tree: %d files, %d bytes." % (tree["dir_files"], tree["dir_bytes"]))
    w("Against it runs `cmd /c dir /s /a %s > NUL`; both programs again on nothing tell start-up" % TREE)
    w("from the walk. %d runs each, in shuffled rounds, after one warm-up run each." % fo["FolderSizeKb"]["n"])
    w("")
    w("| run | median ms | min | max |")
    w("|---|---:|---:|---:|")
    for key in ("FolderSizeKb", "dir /s /a", "FolderSizeKb, empty folder", "cmd /c rem"):
        w("| %s | %s | %s | %s |" % (("`%s`" % key if key != "FolderSizeKb, empty folder" else
                                     "`FolderSizeKb` on an empty folder",) + fmt_ms(fo[key])))
    w("| the walk alone (`FolderSizeKb`'s own timing) | %s | %s | %s |" % fmt_ms(r["folder_inprocess"]))
    w("")
    fr = r["folder_pair_ratio"]
    w("FolderSizeKb ÷ dir /s, whole processes: %.2f of the medians, %.2f per round (%.2f – %.2f). The walk"
      % (fsk_proc / dir_proc, fr["median"], fr["min"], fr["max"]))
    w("alone against `dir /s` less `cmd /c rem`: %.1f ms against %.1f ms." % (folder_walk, dir_walk))
    w("")
    write_where(w, b, r, targets)
    w("## How to run")
    w("")
    w("```sh")
    w("bash bench/run.sh            # builds what it needs, measures, rewrites this file and the chart")
    w("bash bench/run.sh --runs 20  # more runs of each timed figure (default 15, at least 10)")
    w("bash bench/run.sh --head     # measure the last commit rather than the working tree")
    w("```")
    w("")
    w("Run as root on Debian 12. It installs what is missing with apt-get (Wine, MinGW-w64, CMake, NSIS,")
    w("gnuplot), builds the `windows` preset and `bench/` into `/tmp/lexomir-bench` (`--build DIR`),")
    w("makes a fresh win64 prefix there and ends its wineserver; it takes 15 to 20 minutes. The")
    w("programs are in `bench/`: `launcher.c` (time and memory of one run), `floor.c`, `nsis/update.nsi`,")
    w("`phases.cpp` (the quiet sequence with timestamps, from the product sources, with the installer's")
    w("resources and seal), `write_steps.c`, `hashspeed.c`, `foldersize.cpp`, `noop.c`, `noop_dlls.c`,")
    w("`sha256_shani.cpp` (experiment only); `bench.py` drives them and keeps every run's figures in")
    w("`results.json` in the work folder (`bench.py --from-results` writes the note again from one).")
    w("")
    with open(opts.doc, "w", encoding="utf-8") as f:
        f.write("\n".join(L))


def write_where(w, b, r, targets):
    t = r["times"]
    ph = r["phases"]
    ws = r["write_steps"]
    hs = r["hash"]
    mem = r["memory"]
    ex = r["experiments"]
    inst = t["installer"]["median"]
    floor = t["floor"]["median"]
    nsis = t["nsis"]["median"]
    noop = t["noop"]["median"]
    noop_payload = t["noop_payload"]["median"]
    noop_dlls = t["noop_dlls"]["median"]
    w("## Where the installer's time goes")
    w("")
    w("`bench/phases.cpp` runs the installer's quiet sequence: the calls `RunInstaller` and")
    w("`RunUpdateSequence` make, in their order, from the same sources, with the same resources and")
    w("seal, with a `QueryPerformanceCounter` stamp between phases. The launcher hands it its own start")
    w("time, so start-up counts from `CreateProcess` to the first line of `WinMain`. Its whole run took")
    w("%.1f ms (median) against the installer's %.1f ms in the same rounds." % (ph["wall"]["median"], inst))
    w("")
    w("| phase | median ms | min | max |")
    w("|---|---:|---:|---:|")
    labels = [("startup", "start-up: process creation, image and DLLs loaded, runtime start"),
              ("init", "process environment (`InitProcessEnvironment`)"),
              ("discover", "install-target discovery (`DiscoverInstallTarget`)"),
              ("probe", "running-application probe (`ProbeInstanceMapping`)"),
              ("selfcheck", "self-check: SHA-256 of the own file (`CheckOwnFile`)"),
              ("write", "file write (`InstallEmbeddedFile`)"),
              ("size", "size walk and `EstimatedSize` (`ReportInstalledSize`)"),
              ("release", "release (`ReleaseProcessEnvironment`)")]
    for key, label in labels:
        w("| %s | %s | %s | %s |" % ((label,) + fmt_ms(ph[key])))
    w("| process exit (the launcher's time less the above) | %s | %s | %s |" % fmt_ms(r["phases_exit"]))
    w("")
    w("**Start-up**, told apart by do-nothing programs in the same rounds: a bare no-op takes %.1f ms;" % noop)
    w("carrying the 28 MB resource %.1f ms, and %s MB more private memory (%s against %s MB): Wine"
      % (noop_payload, mb(mem["noop_payload"]["peak_private"]["median"] - mem["noop"]["peak_private"]["median"]),
         mb(mem["noop_payload"]["peak_private"]["median"]), mb(mem["noop"]["peak_private"]["median"])))
    w("reads the whole image into private memory at load when its sections are not at page boundaries")
    imp = r["imports"]
    dlls = ", ".join(d for d in imp["installer"])
    if "noop_aligned" in t:
        w("in the file (MinGW's default file alignment is 0x200); with 4 KiB alignment the same program takes")
        w("%.1f ms and %s MB." % (t["noop_aligned"]["median"], mb(mem["noop_aligned"]["peak_private"]["median"])))
    else:
        w("in the file (MinGW's default file alignment is 0x200).")
    w("A no-op that imports what the installer imports (%s) and carries its manifest (Common" % dlls)
    w("Controls 6, administrator) takes %.1f ms. The floor (%.1f ms) pays for the resource but imports"
      % (noop_dlls, floor))
    w("only %s." % ", ".join(imp["floor"]))
    if imp["noop_dlls"] != imp["installer"]:
        w("")
        w("**Note:** the installer's imports changed: `bench/noop_dlls.c` imports %s, so its figure is"
          % ", ".join(imp["noop_dlls"]))
        w("no longer the installer's start-up cost until it is brought in line.")
    w("")
    w("**The write**, step by step (`bench/write_steps.c`: the calls and flags of `InstallEmbeddedFile`,")
    w("%d runs of each way in rounds of their own, after the memory runs, medians in ms). The" % ws["product"]["total"]["n"])
    w("flush is an fsync on the ext4 disk, and waits for whatever else the machine has to write, so it")
    w("and the write phase above vary most with other work on the machine:")
    w("")
    w("| step | as the installer does it | WriteFile from the resource, no copy | no `FlushFileBuffers` |")
    w("|---|---:|---:|---:|")
    for key, label in (("find", "`FindResourceA`, `LoadResource`, `LockResource`, `SizeofResource`"),
                       ("copy", "allocate 28 MB and copy the resource"), ("create", "`CreateFileA` ~lxn.cok"),
                       ("write", "one `WriteFile`"), ("flush", "`FlushFileBuffers`"), ("close", "`CloseHandle`"),
                       ("move", "`MoveFileExA` over lxn.cok"), ("free", "free the buffer"),
                       ("total", "**total**")):
        w("| %s | %.1f | %.1f | %.1f |" % (label, ws["product"][key]["median"], ws["nocopy"][key]["median"],
                                          ws["noflush"][key]["median"]))
    w("")
    if ph["write"]["median"] > 1.25 * ws["product"]["total"]["median"]:
        w("The write phase of the harness (%.1f ms, median) took longer than the same calls in these"
          % ph["write"]["median"])
        w("rounds of their own (%.1f ms); the benchmark does not tell why. Both vary most in the flush;"
          % ws["product"]["total"]["median"])
        w("in the harness the write comes after the CNG hash, and its runs alternate with the other")
        w("programs' 28 MB writes (`results.json` in the work folder has every run).")
        w("")
    w("**The hash**: SHA-256 of the installer's own file, already in memory (`bench/hashspeed.c`, %d"
      % hs["bcrypt"]["ms"]["n"])
    w("rounds in one process):")
    w("")
    w("| method | median ms | min | max | MiB/s (median) |")
    w("|---|---:|---:|---:|---:|")
    names = {"read": "`ReadFile` in 1 MiB pieces, no hashing", "bcrypt": "CNG `BCryptHashData`, as the installer",
             "capi": "CryptoAPI `CALG_SHA_256`", "shani": "the processor's SHA extensions, compiled in"}
    for m, v in hs.items():
        w("| %s | %s | %s | %s | %.0f |" % ((names.get(m, m),) + fmt_ms(v["ms"]) + (v["mib_s"]["median"],)))
    w("")

    hash_ms = ph["selfcheck"]["median"]
    write_ms = ph["write"]["median"]
    start_ms = ph["startup"]["median"]
    step = ws["product"]
    w("### In short")
    w("")
    w("Of the installer's %.1f ms, against the floor's %.1f ms:" % (inst, floor))
    w("")
    w("- **self-check hash, %.1f ms**, the largest phase: `CheckOwnFile` (`install/self_check.cpp`) feeds"
      % hash_ms)
    w("  the file through `Sha256` (`platform/sha256.cpp`, CNG), which Wine computes at %.0f MiB/s here."
      % hs["bcrypt"]["mib_s"]["median"])
    if "shani" in hs:
        w("  The same processor's SHA extensions hash the file in %.1f ms (%.0f MiB/s) in 32-bit code under"
          % (hs["shani"]["ms"]["median"], hs["shani"]["mib_s"]["median"]))
        w("  the same Wine. Reading the file is %.1f ms of it." % hs["read"]["ms"]["median"])
    else:
        w("  Reading the file is %.1f ms of it." % hs["read"]["ms"]["median"])
    w("- **start-up, %.1f ms**, against the floor's whole run of %.1f ms: the 28 MB image read at load"
      % (start_ms, floor))
    w("  (%.1f ms more than a bare no-op), the installer's DLLs and manifest (%.1f ms more) and the"
      % (noop_payload - noop, noop_dlls - noop))
    w("  C and C++ runtimes' start.")
    w("- **file write, %.1f ms**, where the floor's single `WriteFile` takes %.1f: the copy into a new"
      % (write_ms, step["write"]["median"]))
    w("  buffer (`CopyResource` in `install/embedded_file.cpp`) %.1f ms, `FlushFileBuffers` in"
      % step["copy"]["median"])
    w("  `WriteNewFile` %.1f ms, freeing the buffer %.1f ms, the rename %.1f ms." %
      (step["flush"]["median"], step["free"]["median"], step["move"]["median"]))
    w("- the size walk (%.2f ms), discovery and the registry (%.1f ms together) do not matter." %
      (ph["size"]["median"], ph["init"]["median"] + ph["discover"]["median"] + ph["probe"]["median"]))
    w("- **memory**: the floor's %s MB of private bytes are Wine's copy of the image; the installer adds"
      % mb(mem["floor"]["peak_private"]["median"]))
    w("  its one buffer, %s MB in all. On Windows the image pages are mapped from the file and are"
      % mb(mem["installer"]["peak_private"]["median"]))
    w("  not private bytes (not measured here).")
    w("")
    w("### What would close the missed targets")
    w("")
    missed = [k for k, v in targets.items() if not v[2]]
    if not missed:
        w("All targets are met.")
        w("")
    if "nsis" in missed or "floor" in missed:
        w("**Install time.** Measured with the installer's own objects relinked (see the tables above):")
        w("")
        w("| change | install ms: median (min – max) | ÷ NSIS | ÷ floor |")
        w("|---|---:|---:|---:|")
        for key, label in (("installer", "none (the installer)"),
                           ("installer_shani", "SHA-256 on the SHA extensions (`bench/sha256_shani.cpp` in "
                                               "place of `platform/sha256.cpp`)"),
                           ("installer_aligned", "`-Wl,--file-alignment,0x1000`"),
                           ("installer_shani_aligned", "both")):
            if key in t:
                m = t[key]["median"]
                w("| %s | %s | %.2f | %.2f |" % (label, ms_cell(t[key]), m / nsis, m / floor))
        w("")
        if "installer_shani" in t:
            w("- The hash is what to change first: `CheckOwnFile` spends %.1f ms in CNG. A SHA-256 on the"
              % hash_ms)
            w("  processor's SHA extensions, chosen at run time by CPUID with CNG kept where they are absent,")
            w("  makes the whole install %.1f ms. This departs from the rule that hashing uses the platform's"
              % t["installer_shani"]["median"])
            w("  crypto, a decision for the design; on Windows itself CNG may already use these instructions")
            w("  (not measurable here).")
        w("- 4 KiB file alignment in the link (`cmake/windows.cmake`, the link options of `LexomirUpdate`) lets Wine map")
        w("  the image instead of reading it: %.1f ms and %s MB of private bytes, at %d bytes of file size"
          % (t["installer_aligned"]["median"], mb(mem["installer_aligned"]["peak_private"]["median"]),
             ex["installer_aligned"]))
        w("  less the payload (against %d), %s." % (r["sizes"]["installer"],
          "within the size limit" if ex["installer_aligned"] <= SIZE_LIMIT else "over the size limit"))
        best = min((k for k in ("installer", "installer_shani", "installer_aligned", "installer_shani_aligned")
                    if k in t), key=lambda k: t[k]["median"])
        bm = t[best]["median"]
        if bm <= 1.5 * floor and bm <= nsis:
            w("- The fastest of these (%s, %.1f ms) meets both time targets." % (best, bm))
        else:
            w("- The fastest of these (%s, %.1f ms) is still %.1f ms over 1.5 × the floor (%.1f ms)%s."
              % (best, bm, bm - 1.5 * floor, 1.5 * floor,
                 "" if bm <= nsis else " and %.1f ms over NSIS" % (bm - nsis)))
        rem = step["copy"]["median"] + step["free"]["median"]
        w("- Beyond the hash, the installer does more than the floor in: the copy into one buffer and its")
        w("  release, %.1f ms and 28 MB (the target intends that copy; writing straight from the resource" % rem)
        w("  would remove both); `FlushFileBuffers`, %.1f ms, which makes the new file durable before it"
          % step["flush"]["median"])
        w("  replaces the old one; and loading its DLLs with its manifest at start, %.1f ms in a no-op."
          % (noop_dlls - noop))
        w("")
    if "size" in missed:
        w("**Executable size.** The installer is %d bytes over the limit; the map table above shows" %
          (r["sizes"]["installer"] - SIZE_LIMIT))
        w("where its code comes from.")
        w("")
    if "private" in missed:
        w("**Peak private bytes.** Over the limit by %d bytes; 4 KiB file alignment (above) removes Wine's"
          % (mem["installer"]["peak_private"]["median"] - 2 * b.payload_size - PRIVATE_ALLOWANCE))
        w("private copy of the image.")
        w("")
    if "folder" in missed:
        w("**FolderSizeKb.** Slower than `dir /s` here; see the table above.")
        w("")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--win-build", required=True)
    ap.add_argument("--bench-build", required=True)
    ap.add_argument("--nsis", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--doc", required=True)
    ap.add_argument("--chart", required=True)
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--mem-runs", type=int, default=10)
    ap.add_argument("--seed", type=int, default=8)
    ap.add_argument("--command", default="bash bench/run.sh")
    ap.add_argument("--source-note", default="the working tree")
    ap.add_argument("--from-results", metavar="JSON",
                    help="write the note and chart again from the results.json of an earlier run")
    ap.add_argument("--try", dest="trial", action="store_true",
                    help="allow fewer than 10 runs, to try the harness (the figures are not for the note)")
    opts = ap.parse_args()
    if not opts.trial and (opts.runs < 10 or opts.mem_runs < 10):
        ap.error("at least 10 runs per figure")
    os.makedirs(opts.work, exist_ok=True)
    b = Bench(opts)
    opts.run_date = datetime.datetime.now()
    if opts.from_results:
        opts.run_date = datetime.datetime.fromtimestamp(os.path.getmtime(opts.from_results))
        with open(opts.from_results) as f:
            saved = json.load(f)
        results, b.tree, facts = saved["results"], saved["tree"], saved["machine"]
        b.loads = [tuple(x) for x in saved["loads"]]
        b.programs = {"floor.exe": os.path.join(opts.bench_build, "floor.exe")}
        b.expected_kb = (os.path.getsize(opts.standin) + len(UNINSTALLER_BYTES) + b.payload_size) >> 10
        write_chart(results, opts.chart, opts.work, b.tree, None)
        write_doc(b, results, opts, facts)
        log("wrote %s and %s from %s" % (opts.doc, opts.chart, opts.from_results))
        return 0
    try:
        results = b.run()
    except BenchFailed as e:
        print("bench: FAILED: %s" % e, file=sys.stderr)
        return 1
    facts = machine_facts()
    # Every figure of the run, for a second look; the note quotes their summaries.
    with open(os.path.join(opts.work, "results.json"), "w") as f:
        json.dump({"results": results, "tree": b.tree, "loads": b.loads, "machine": facts}, f, indent=1)
    write_chart(results, opts.chart, opts.work, b.tree, b.subjects())
    write_doc(b, results, opts, facts)
    log("wrote %s and %s" % (opts.doc, opts.chart))
    return 0


if __name__ == "__main__":
    sys.exit(main())
