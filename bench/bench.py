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
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

from common import (APP_DIR, APP_DIR_IN_PREFIX, BENCH_DIR, BENCH_DIR_IN_PREFIX, EMPTY, EMPTY_IN_PREFIX,  # noqa: E402
                    OLD_DATA, TREE, TREE_FILES, TREE_IN_PREFIX, TREE_LEVELS, TREE_SEED, UNINSTALL_KEY,
                    UNINSTALLER_BYTES, BenchFailed, loadavg, log, parse_pairs, sha256_file, stats, win_path)
from report import (machine_facts, map_breakdown, map_member, pe_imports, pe_sections,  # noqa: E402
                    write_chart, write_doc)

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
        return list(self.SUBJECTS)

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
                             "installer_aligned")
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
