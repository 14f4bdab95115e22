#!/usr/bin/env python3
"""Measures the installer in one warm Wine prefix and keeps every figure in
WORK/results.json; bench/report.py writes docs/BENCHMARKS.md and the chart
from them. Started by bench/run.sh, which builds everything first.

  bench.py --win32 DIR --win64 DIR --bench32 DIR --bench64 DIR --nsis EXE
           --work DIR --host32 KIND --host32-why TEXT [--runs N] [--mem-runs N]

On every host, the 64-bit test build runs natively under wine64 against
64-bit builds of a no-op, the floor and the durable floor (bench/floor.c),
in rounds that run each once in a shuffled order; the phase build
(bench/phases.cpp) runs in the same rounds and times the real sequence's
stages. Where the host runs 32-bit code natively, the 32-bit installer runs
the same way against NSIS doing the same job and the 32-bit floors. Nothing
is timed through an emulator.

Every run is checked: its exit code, the data file's bytes, no temporary
file left, and for the installers the EstimatedSize value. A failed check
stops the benchmark: figures of a run that did not do the job are never
used.

What needs no run is read from the files (image_facts.py): the sizes, the
sections and imports, and from the link map the bytes of each input and
why the linker took each library member, for the size's growth.

Python standard library only.
"""
import argparse
import datetime
import json
import os
import random
import sys
import time

from common import BENCH_DIR, BenchFailed, loadavg, log, parse_pairs, stats
from image_facts import (layout, map_breakdown, map_entries, map_included_by, map_inputs, pe_imports,
                         resources_mapped)
from prefix import Prefix

from winepe.digest import sha256_file
from winepe.pe import PeImage
from winepe.wine import WINE64, loaded_libraries, win_path

# name: (program in C:\bench, arguments, writes the data file, stores EstimatedSize)
CONTENDERS64 = {
    "installer": ("installer64.exe", ["modest"], True, True),
    "phases": ("phases64.exe", ["modest"], True, True),
    "noop": ("noop64.exe", [], False, False),
    "floor": ("floor64.exe", [], True, False),
    "durable": ("durable_floor64.exe", [], True, False),
}
# Only in the memory rounds: the installer's other layouts in the file.
LAYOUTS64 = {
    "installer_aligned": ("installer_aligned64.exe", ["modest"], True, True),
    "installer_512": ("installer_512_64.exe", ["modest"], True, True),
}
CONTENDERS32 = {
    "installer": ("installer32.exe", ["modest"], True, True),
    "nsis": ("nsis32.exe", ["/S"], True, True),
    "noop": ("noop32.exe", [], False, False),
    "floor": ("floor32.exe", [], True, False),
    "durable": ("durable_floor32.exe", [], True, False),
}
# The contenders whose times the targets compare: each must map its
# payload from the file as the installer does (image_facts.resources_mapped).
JUDGED = ("installer", "noop", "floor", "durable")
# Ratios taken in each round: (numerator, denominator).
PAIRS64 = (("installer", "floor"), ("installer", "durable"), ("phases", "installer"))
PAIRS32 = (("installer", "nsis"), ("installer", "floor"), ("installer", "durable"))

STAGES = ("sequence", "selfcheck", "write", "size", "ending")


def phases_of(marks, run):
    """The phases of one run of the phase build, in ms, from its stamps
    (bench/phases.cpp) and the launcher's start and end of the run."""
    freq = marks["freq"]
    if freq != run["qpc_freq"]:
        raise BenchFailed("the phase build and the launcher count time differently")
    for stage in STAGES:
        if marks[stage + "_marks"] != 1:
            raise BenchFailed("the sequence announced the stage '%s' %d times, not once (runtime/run_stages.h)"
                              % (stage, marks[stage + "_marks"]))
    if marks["writes"] < 1:
        raise BenchFailed("no WriteFile in the write stage: the write's end cannot be told")
    points = [run["start_qpc"], marks["constructed"], marks["sequence"], marks["selfcheck"], marks["write"],
              marks["written"], marks["size"], marks["ending"], marks["atexit"], run["end_qpc"]]
    if points != sorted(points):
        raise BenchFailed("the phase build's stamps are out of order: %s" % points)

    def ms(a, b):
        return (b - a) * 1000.0 / freq
    return {
        "process": ms(points[0], points[1]),
        "startup": ms(points[1], points[2]),
        "discovery": ms(points[2], points[3]),
        "selfcheck": ms(points[3], points[4]),
        "write": ms(points[4], points[5]),
        "flush_rename": ms(points[5], points[6]),
        "flush": marks["flush_in"] * 1000.0 / freq,
        "move": marks["move_in"] * 1000.0 / freq,
        "size": ms(points[6], points[7]),
        "ending": ms(points[7], points[8]),
        "exit": ms(points[8], points[9]),
        "wall": ms(points[0], points[9]),
    }


class Bench:
    def __init__(self, o):
        self.o = o
        self.rng = random.Random(o.seed)
        self.payload = os.path.join(o.win64, "payload", "lxn.cok")
        self.payload_size = os.path.getsize(self.payload)
        self.payload_sha = sha256_file(self.payload)
        self.native32 = o.host32 == "native"
        self.loads = []
        self.phases_out = os.path.join(o.work, "phases.txt")
        self.r = {"payload": self.payload_size}

    def note_load(self, label):
        self.loads.append((label, loadavg()))

    # ---- one run, checked ------------------------------------------------------------------
    def run_one(self, name, contender, poll=0):
        program, args, writes, sized = contender
        self.prefix.reset()
        env = None
        if program.startswith("phases"):
            env = {"BENCH_PHASES_OUT": win_path(self.phases_out)}
            if os.path.exists(self.phases_out):
                os.remove(self.phases_out)
        r = self.prefix.launch(program, args, poll=poll, env=env, size_value=sized)
        if int(r["exit"]) != 0:
            raise BenchFailed("%s exited with %d (expected 0)\n%s" % (program, int(r["exit"]), r["output"][-3000:]))
        if writes:
            self.prefix.check_data(program, self.payload_size, self.payload_sha)
        if sized:
            expected = (self.prefix.folder_bytes + self.payload_size) >> 10
            if int(r["dword"]) != expected:
                raise BenchFailed("%s: EstimatedSize is %d, expected %d" % (program, int(r["dword"]), expected))
        if env:
            with open(self.phases_out) as f:
                r["phases"] = phases_of(parse_pairs(f.read().strip().splitlines()[-1]), r)
        return r

    def timed_rounds(self, label, contenders, pairs):
        """Every contender once a round, in a shuffled order, after one
        warm-up round; the ratios of each pair taken within each round."""
        names = list(contenders)
        for n in names:
            self.run_one(n, contenders[n])
        times = {n: [] for n in names}
        ratios = {"%s/%s" % p: [] for p in pairs}
        phases = []
        self.note_load(label + ", start")
        for i in range(self.o.runs):
            order = names[:]
            self.rng.shuffle(order)
            this = {}
            for n in order:
                r = self.run_one(n, contenders[n])
                this[n] = r["wall_ms"]
                times[n].append(r["wall_ms"])
                if "phases" in r:
                    phases.append(r["phases"])
            for a, b in pairs:
                ratios["%s/%s" % (a, b)].append(this[a] / this[b])
            log("%s, round %d/%d: %s" % (label, i + 1, self.o.runs, " ".join("%s=%.0f" % (n, this[n]) for n in names)))
        self.note_load(label + ", end")
        out = {"order": names, "times": {n: stats(v) for n, v in times.items()}, "raw": times,
               "pairs": {k: stats(v) for k, v in ratios.items()}}
        if phases:
            out["phases"] = {k: stats([p[k] for p in phases]) for k in phases[0]}
            out["raw_phases"] = phases
        return out

    def memory_rounds(self, label, contenders):
        """Peak resident memory: the launcher samples the child's counters
        every millisecond (which disturbs its time, so these rounds are
        apart from the timed ones) and keeps the largest PeakWorkingSetSize;
        under Wine that is the kernel's high-water mark of the process's
        resident set (VmHWM), on Windows the working set's own peak."""
        names = list(contenders)
        mem = {n: {"peak_ws": [], "peak_private": []} for n in names}
        self.note_load(label + ", start")
        for i in range(self.o.mem_runs):
            order = names[:]
            self.rng.shuffle(order)
            for n in order:
                r = self.run_one(n, contenders[n], poll=1)
                if r["samples"] < 1 or r["peak_ws"] <= 0:
                    raise BenchFailed("%s: no memory sample was taken" % n)
                mem[n]["peak_ws"].append(r["peak_ws"])
                mem[n]["peak_private"].append(r["peak_private"])
        log("%s: %d rounds done" % (label, self.o.mem_runs))
        self.note_load(label + ", end")
        return {n: {k: stats(v) for k, v in d.items()} for n, d in mem.items()}

    # ---- what needs no run -----------------------------------------------------------------
    def sizes(self):
        o = self.o
        payload32 = os.path.getsize(os.path.join(o.win32, "payload", "lxn.cok"))
        if payload32 != self.payload_size:
            raise BenchFailed("the 32-bit and 64-bit builds carry payloads of different sizes")
        installer32 = os.path.join(o.win32, "LexomirUpdate.exe")
        variants = {"installer": installer32,
                    "installer_aligned": os.path.join(o.bench32, "installer_aligned.exe"),
                    "installer_512": os.path.join(o.bench32, "installer_512.exe")}
        r = self.r
        r["size"] = {n: os.path.getsize(p) - payload32 for n, p in variants.items()}
        r["size"]["nsis"] = os.path.getsize(o.nsis) - payload32
        r["size"]["installer64"] = os.path.getsize(os.path.join(o.win64, "LexomirUpdate-x64-test.exe")) - payload32
        r["size"]["phases64"] = os.path.getsize(os.path.join(o.bench64, "phases.exe")) - payload32
        # The benchmark's own links of the installer's objects must give the installer.
        r["size"]["as_built32"] = os.path.getsize(os.path.join(o.bench32, "size_as_built.exe")) - payload32
        r["size"]["as_built64"] = os.path.getsize(os.path.join(o.bench64, "size_as_built.exe")) - payload32
        # The layout is in the headers; only the installer's imports need the whole file.
        r["layout"] = {n: layout(PeImage.of_file(p, headers_only=True)) for n, p in variants.items()}
        # A ratio against a floor means something only where the floor's
        # payload is mapped from the file as the installer's is.
        programs = self.programs()
        r["mapped"] = {label: {n: resources_mapped(PeImage.of_file(programs[c[0]], headers_only=True))
                               for n, c in contenders.items() if n in JUDGED and c[0] in programs}
                       for label, contenders in (("x64", CONTENDERS64), ("x86", CONTENDERS32))}
        installer = PeImage.of_file(installer32)
        r["sections"] = installer.sections
        r["imports32"] = pe_imports(installer)
        link_map = os.path.join(o.bench32, "installer.map")
        entries = list(map_entries(link_map))  # read and parsed once for both tables
        r["map"] = map_breakdown(entries)
        r["inputs"] = map_inputs(entries)
        r["included_by"] = map_included_by(link_map)

    # ---- what needs a run ------------------------------------------------------------------
    def programs(self):
        o = self.o
        p = {"launcher.exe": os.path.join(o.bench64, "launcher.exe"),
             "installer64.exe": os.path.join(o.win64, "LexomirUpdate-x64-test.exe"),
             "phases64.exe": os.path.join(o.bench64, "phases.exe"),
             "noop64.exe": os.path.join(o.bench64, "noop.exe"),
             "floor64.exe": os.path.join(o.bench64, "floor.exe"),
             "durable_floor64.exe": os.path.join(o.bench64, "durable_floor.exe"),
             "installer_aligned64.exe": os.path.join(o.bench64, "installer_aligned.exe"),
             "installer_512_64.exe": os.path.join(o.bench64, "installer_512.exe"),
             "hashspeed64.exe": os.path.join(o.bench64, "hashspeed.exe")}
        if self.native32:
            p.update({"installer32.exe": os.path.join(o.win32, "LexomirUpdate.exe"),
                      "nsis32.exe": o.nsis,
                      "noop32.exe": os.path.join(o.bench32, "noop.exe"),
                      "floor32.exe": os.path.join(o.bench32, "floor.exe"),
                      "durable_floor32.exe": os.path.join(o.bench32, "durable_floor.exe")})
        return p

    def libraries(self):
        """The DLLs a quiet run of the 64-bit build loads, from the loader's trace."""
        program, args, _, _ = CONTENDERS64["installer"]
        self.prefix.reset()
        r = self.prefix.launch(program, args, env={"WINEDEBUG": "+pid,+loaddll"}, size_value=True)
        if int(r["exit"]) != 0:
            raise BenchFailed("the traced run exited with %d" % int(r["exit"]))
        runs = [names for names in loaded_libraries(r["output"]).values() if names[0] == program]
        if len(runs) != 1:
            raise BenchFailed("the loader's trace shows %d runs of the installer" % len(runs))
        self.r["libraries"] = runs[0]

    def hash_speed(self):
        out = self.prefix.direct("hashspeed64.exe", [BENCH_DIR + "installer64.exe", str(self.o.runs)])
        rows = [parse_pairs(l) for l in out.splitlines() if l.startswith("method=")]
        digests = {r["digest"] for r in rows if r["digest"] != "-"}
        if len(digests) != 1 or sha256_file(self.programs()["installer64.exe"]) not in digests:
            raise BenchFailed("hashspeed: the methods disagree or miss the file's SHA-256: %s" % digests)
        methods = []
        for r in rows:
            if r["method"] not in methods:
                methods.append(r["method"])
        self.r["hash"] = {m: {"ms": stats([r["ms"] for r in rows if r["method"] == m]),
                              "mib_s": stats([r["mib_s"] for r in rows if r["method"] == m])} for m in methods}

    def run(self):
        started = time.time()
        self.note_load("start")
        self.sizes()
        log("making a win64 prefix")
        standin = os.path.join(self.o.win64, "tests", "wine", "standin_app.exe")
        self.prefix = Prefix(self.o.work, standin, self.programs())
        durations = {}
        try:
            t = time.time()
            self.libraries()
            log("timing the 64-bit build natively under wine64, %d rounds" % self.o.runs)
            self.r["x64"] = self.timed_rounds("64-bit timing", CONTENDERS64, PAIRS64)
            durations["64-bit timing"] = time.time() - t
            t = time.time()
            mem = dict(CONTENDERS64)
            del mem["phases"]
            mem.update(LAYOUTS64)
            self.r["x64"]["memory"] = self.memory_rounds("64-bit memory", mem)
            durations["64-bit memory"] = time.time() - t
            t = time.time()
            self.hash_speed()
            durations["hash speed"] = time.time() - t
            if self.native32:
                t = time.time()
                log("timing the 32-bit installer, natively, %d rounds" % self.o.runs)
                self.r["x86"] = self.timed_rounds("32-bit timing", CONTENDERS32, PAIRS32)
                durations["32-bit timing"] = time.time() - t
                t = time.time()
                mem = {k: v for k, v in CONTENDERS32.items() if k != "noop"}
                self.r["x86"]["memory"] = self.memory_rounds("32-bit memory", mem)
                durations["32-bit memory"] = time.time() - t
        finally:
            self.prefix.stop()
        self.note_load("end")
        self.r["durations"] = durations
        self.r["measuring_s"] = time.time() - started
        self.r["loads"] = self.loads
        return self.r


def machine_facts():
    import subprocess

    def out(cmd):
        try:
            return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.strip()
        except OSError:
            return "unknown"
    facts = {"nproc": out(["nproc"]), "cpu": "unknown"}
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                facts["cpu"] = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                facts["mem"] = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
    facts["wine"] = out([WINE64, "--version"])
    facts["kernel"] = os.uname().release
    facts["mingw"] = out(["x86_64-w64-mingw32-gcc", "-dumpversion"])
    facts["nsis"] = out(["makensis", "-VERSION"])
    return facts


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("win32", "win64", "bench32", "bench64", "nsis", "work"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--host32", required=True, help="native, emulated or none (winepe/host32.py)")
    ap.add_argument("--host32-why", default="")
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--mem-runs", type=int, default=10)
    ap.add_argument("--seed", type=int, default=8)
    ap.add_argument("--command", default="bash bench/run.sh")
    ap.add_argument("--source-note", default="the working tree")
    ap.add_argument("--try", dest="trial", action="store_true",
                    help="allow fewer than 10 rounds, to try the harness (the figures are not for the note)")
    o = ap.parse_args()
    if not o.trial and (o.runs < 10 or o.mem_runs < 10):
        ap.error("at least 10 rounds per figure")
    os.makedirs(o.work, exist_ok=True)
    try:
        results = Bench(o).run()
    except BenchFailed as e:
        print("bench: FAILED: %s" % e, file=sys.stderr)
        return 1
    results["meta"] = {"date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), "command": o.command,
                       "source_note": o.source_note, "host32": o.host32, "host32_why": o.host32_why,
                       "runs": o.runs, "mem_runs": o.mem_runs, "trial": o.trial, "machine": machine_facts()}
    path = os.path.join(o.work, "results.json")
    with open(path, "w") as f:
        json.dump(results, f, indent=1)
    log("measured in %.0f s; every figure is in %s" % (results["measuring_s"], path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
