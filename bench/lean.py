#!/usr/bin/env python3
"""The benchmark on a host that runs no 32-bit code natively: what can be
measured there without emulation, written to docs/BENCHMARKS.md. Started
by bench/run.sh, which builds everything first.

Times are not measured: the shipped installer is a 32-bit program, and
under qemu-user every one of its instructions is translated, so a time
taken there is the emulator's. Measured instead:
- size besides the payload of the 32-bit installer, as built (512-byte
  alignment in the file, the resource section moved to a page), with every
  section at 4 KiB and with the linker's default alone, against NSIS doing
  the same job (sizes of files need no run), and where the bytes go (the
  link map);
- which libraries the installer loads in a quiet run (the loader's trace),
  on the 64-bit test build of the same sources, under wine64;
- peak private bytes of that build, and of its two other layouts, against
  the same build's floor.

  lean.py --win32 DIR --win64 DIR --bench32 DIR --bench64 DIR --nsis EXE
          --work DIR --doc FILE [--chart PNG] [--mem-runs N] [--host32 TEXT]
          [--command TEXT] [--source-note TEXT]

The chart (gnuplot) shows the sizes and the peak memory side by side.

Python standard library only.
"""
import argparse
import datetime
import os
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
import winehost  # noqa: E402
from common import (APP_DIR, APP_DIR_IN_PREFIX, UNINSTALL_KEY, OLD_DATA, UNINSTALLER_BYTES,  # noqa: E402
                    PRIVATE_ALLOWANCE, BenchFailed, log, parse_pairs, sha256_file)
from report import machine_facts, map_breakdown, pe_imports, pe_sections  # noqa: E402

BENCH_DIR = "C:\\bench\\"
GUI = ("user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll")
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\S+ Loaded L"([^"]*)"', re.M)


class Prefix:
    """A win64 prefix with the application installed, driven by wine64."""

    def __init__(self, work, standin, programs):
        self.path = os.path.join(work, "prefix")
        winehost.new_prefix(self.path)
        self.env = winehost.base_env(self.path)
        self.run(winehost.tool("reg") + ["add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"])
        self.app_dir = os.path.join(self.path, *APP_DIR_IN_PREFIX)
        os.makedirs(self.app_dir, exist_ok=True)
        shutil.copyfile(standin, os.path.join(self.app_dir, "Lexomir.exe"))
        with open(os.path.join(self.app_dir, "unins000.exe"), "wb") as f:
            f.write(UNINSTALLER_BYTES)
        self.run(winehost.tool("reg") + ["add", UNINSTALL_KEY, "/v", "UninstallString", "/t", "REG_SZ", "/d",
                                         APP_DIR + "unins000.exe", "/f", "/reg:64"])
        bench = os.path.join(self.path, "drive_c", "bench")
        os.makedirs(bench, exist_ok=True)
        for name, path in programs.items():
            shutil.copyfile(path, os.path.join(bench, name))
        self.run(["wineserver", "-w"], check=False)
        self.run(["wineserver", "-p"], check=False)  # one warm server for every run

    def run(self, args, env=None, check=True):
        e = dict(self.env)
        e.update(env or {})
        # Output to a file, never a pipe: the wineserver and programs started
        # inside Wine inherit it and would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run(args, env=e, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                               timeout=600)
            out.seek(0)
            text = out.read().decode("utf-8", errors="replace")
        if check and p.returncode != 0:
            raise BenchFailed("failed (%d): %s\n%s" % (p.returncode, " ".join(args), text[-3000:]))
        return p.returncode, text

    def reset(self):
        for name in ("lxn.cok", "~lxn.cok"):
            if os.path.exists(os.path.join(self.app_dir, name)):
                os.remove(os.path.join(self.app_dir, name))
        with open(os.path.join(self.app_dir, "lxn.cok"), "wb") as f:
            f.write(OLD_DATA)

    def installed(self):
        return sha256_file(os.path.join(self.app_dir, "lxn.cok"))

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=120)


def overhead(exe, payload):
    return os.path.getsize(exe) - payload


def layout(exe):
    """How the sections stand in the file: the file alignment, and whether
    the resource section (the payload) starts on a page there."""
    with open(exe, "rb") as f:
        head = f.read(1024)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    alignment = struct.unpack_from("<I", head, pe + 24 + 36)[0]
    rsrc = [s["rawptr"] for s in pe_sections(exe) if s["name"] == ".rsrc"]
    text = "%d bytes" % alignment
    if alignment < 4096 and rsrc and rsrc[0] % 4096 == 0:
        text += ", resources moved to a 4 KiB boundary"
    return text


def measure(o):
    payload = os.path.join(o.win32, "payload", "lxn.cok")
    payload_size = os.path.getsize(payload)
    payload_sha = sha256_file(payload)
    r = {"payload": payload_size}
    installer32 = os.path.join(o.win32, "LexomirUpdate.exe")
    variants32 = {"installer": installer32,
                  "installer_aligned": os.path.join(o.bench32, "installer_aligned.exe"),
                  "installer_512": os.path.join(o.bench32, "installer_512.exe")}
    r["size"] = {name: overhead(exe, payload_size) for name, exe in variants32.items()}
    r["size"]["nsis"] = overhead(o.nsis, payload_size)
    r["layout"] = {name: layout(exe) for name, exe in variants32.items()}
    r["sections"] = pe_sections(installer32)
    r["imports32"] = pe_imports(installer32)
    r["map"] = map_breakdown(os.path.join(o.bench32, "installer.map"))

    programs = {"installer.exe": os.path.join(o.win64, "LexomirUpdate-x64-test.exe"),
                "installer_aligned.exe": os.path.join(o.bench64, "installer_aligned.exe"),
                "installer_512.exe": os.path.join(o.bench64, "installer_512.exe"),
                "floor.exe": os.path.join(o.bench64, "floor.exe"),
                "launcher.exe": os.path.join(o.bench64, "launcher.exe")}
    log("making a win64 prefix")
    wine = Prefix(o.work, os.path.join(o.win64, "tests", "wine", "standin_app.exe"), programs)
    try:
        def run(name, args, env=None, poll=True):
            wine.reset()
            cmd = [winehost.WINE64, BENCH_DIR + "launcher.exe"] + (["--poll", "1"] if poll else [])
            _, out = wine.run(cmd + ["--", BENCH_DIR + name] + args, env=env)
            line = next((l for l in out.splitlines() if l.startswith("exit=")), None)
            if line is None or int(parse_pairs(line)["exit"]) != 0:
                raise BenchFailed("%s did not install:\n%s" % (name, out[-3000:]))
            if wine.installed() != payload_sha:
                raise BenchFailed("%s: lxn.cok is not the payload after the run" % name)
            return parse_pairs(line), out

        log("the loader's trace of a quiet run")
        _, trace = run("installer.exe", ["modest"], env={"WINEDEBUG": "+pid,+loaddll"}, poll=False)
        by_process = {}
        for pid, path in LOADED.findall(trace):
            by_process.setdefault(pid, []).append(path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower())
        runs = [names for names in by_process.values() if names and names[0] == "installer.exe"]
        if len(runs) != 1:
            raise BenchFailed("the loader's trace shows %d runs of the installer" % len(runs))
        r["libraries"] = runs[0]

        names = ("installer.exe", "installer_aligned.exe", "installer_512.exe", "floor.exe")
        mem = {n: [] for n in names}
        for i in range(o.mem_runs):
            for n in names:
                mem[n].append(run(n, ["modest"] if n != "floor.exe" else [])[0]["peak_private"])
            log("memory round %d/%d" % (i + 1, o.mem_runs))
        r["memory"] = {n: {"median": statistics.median(v), "max": max(v), "n": len(v)} for n, v in mem.items()}
    finally:
        wine.stop()
    return r


LAYOUTS = (("as built", "installer"), ("every section at 4 KiB", "installer_aligned"),
           ("linker default", "installer_512"))


def write_chart(r, path, workdir):
    size, mem = r["size"], r["memory"]
    limit = r["payload"] + PRIVATE_ALLOWANCE
    sizes = os.path.join(workdir, "chart_size.dat")
    with open(sizes, "w") as out:
        for label, name in LAYOUTS + (("NSIS", "nsis"),):
            out.write('"%s" %.1f %d\n' % (label, size[name] / 1024, name == "nsis"))
    memory = os.path.join(workdir, "chart_memory.dat")
    with open(memory, "w") as out:
        for label, name in LAYOUTS + (("floor", "floor"),):
            out.write('"%s" %.2f %d\n' % (label, mem[name + ".exe"]["median"] / 1e6, name == "floor"))
    script = """
set terminal pngcairo size 1400,520 font "sans,10"
set output '%(png)s'
set multiplot layout 1,2
set style fill solid 0.7 border -1
set boxwidth 0.6
set grid ytics
set yrange [0:*]
set xtics scale 0 noenhanced
set palette defined (0 "#4a7ebb", 1 "#999999")
set cbrange [0:1]
unset colorbox
set title "Size besides the payload, 32-bit installer (KiB)" noenhanced
plot '%(sizes)s' using 0:2:3:xtic(1) with boxes lc palette notitle, \\
     '' using 0:2:(sprintf("%%.1f", $2)) with labels offset 0,1 notitle
set title "Peak private bytes of a quiet run, 64-bit build under wine64 (MB, median of %(runs)d)" noenhanced
set yrange [0:%(top).1f]
set arrow from graph 0, first %(limit).2f to graph 1, first %(limit).2f nohead lc rgb "#cc0000" dt 2
set label "limit: payload + 8 MiB" at graph 0.02, first %(limit).2f offset 0,0.7 tc rgb "#cc0000"
plot '%(memory)s' using 0:2:3:xtic(1) with boxes lc palette notitle, \\
     '' using 0:2:(sprintf("%%.2f", $2)) with labels offset 0,1 notitle
unset multiplot
""" % {"png": path, "sizes": sizes, "memory": memory, "limit": limit / 1e6,
       "top": max(limit, max(m["median"] for m in mem.values())) / 1e6 * 1.15,
       "runs": mem["installer.exe"]["n"]}
    gp = os.path.join(workdir, "chart.gp")
    with open(gp, "w") as out:
        out.write(script)
    subprocess.run(["gnuplot", gp], check=True)


def write_doc(r, o):
    lines = []
    w = lines.append
    limit = r["payload"] + PRIVATE_ALLOWANCE
    size, mem = r["size"], r["memory"]
    gui = sorted(set(GUI).intersection(r["libraries"]))
    w("# Benchmark: the installer against NSIS and the floor")
    w("")
    w("Written by `%s` on %s from %s." % (o.command, datetime.date.today().isoformat(), o.source_note))
    w("")
    w("**This host runs no 32-bit code natively** (%s), so no time was measured: the shipped "
      "installer is a 32-bit program, and under qemu-user each of its instructions is translated, "
      "which makes any time taken there the emulator's. What needs no run (sizes) was measured on the "
      "32-bit installer; what needs a run without timing (libraries loaded, peak private bytes) was "
      "measured on the 64-bit test build of the same sources under wine64, against that build's floor. "
      "A host that runs 32-bit code natively gives the full benchmark, times and phases included." % o.host32)
    w("")
    w("## Targets")
    w("")
    w("| target | figure | verdict |")
    w("|---|---|---|")
    w("| quiet install <= 0.6 x NSIS and <= 2 x the floor | - | not measured on this host: no native 32-bit execution |")
    w("| peak private bytes <= payload + 8 MiB (%.2f MB) | 64-bit build: %.2f MB (median of %d; highest %.2f MB); "
      "its floor %.2f MB | %s (64-bit build under wine64) |"
      % (limit / 1e6, mem["installer.exe"]["median"] / 1e6, mem["installer.exe"]["n"],
         mem["installer.exe"]["max"] / 1e6, mem["floor.exe"]["median"] / 1e6,
         "met" if mem["installer.exe"]["max"] <= limit else "not met"))
    w("| size besides the payload < NSIS's (%s bytes) | %s bytes (32-bit, as built) | %s |"
      % (format(size["nsis"], ","), format(size["installer"], ","),
         "met" if size["installer"] < size["nsis"] else "not met"))
    imported = sorted(set(GUI).intersection(d.lower() for d in r["imports32"]))
    w("| no GUI library loaded by a quiet run | 64-bit build: %s; the 32-bit installer imports %s | %s |"
      % (", ".join(gui) or "none of user32, gdi32, comctl32, shell32", ", ".join(imported) or "none of them",
         "not met" if gui else "met on the 64-bit test build (wine64, `WINEDEBUG=+loaddll`)"
         + ("; not met by the shipped 32-bit installer, which imports them directly" if imported else "")))
    w("")
    w("Peak private bytes are the largest of the launcher's samples (every 1 ms) of the process's private "
      "usage: under Wine that counter is the current anonymous memory, not a peak. The phases of the run "
      "and the ratios per round are times, so neither was measured here.")
    w("")
    w("## Section alignment in the file: size against memory")
    w("")
    w("Under Wine a section whose bytes start at a page boundary in the file is mapped from the file; "
      "any other is read into private memory. The installer keeps the linker's 512-byte alignment and "
      "has only its resource section (the payload) moved to a page after linking.")
    w("")
    w("| build | alignment in the file | size besides the payload (32-bit) | peak private bytes, median (64-bit, wine64) |")
    w("|---|---|---|---|")
    for label, name in LAYOUTS:
        w("| %s | %s | %s | %.2f MB |" % (label, r["layout"][name], format(size[name], ","),
                                         mem[name + ".exe"]["median"] / 1e6))
    w("| floor (64-bit) | - | - | %.2f MB |" % (mem["floor.exe"]["median"] / 1e6))
    w("")
    if o.chart:
        w("![Size besides the payload and peak private bytes of the three layouts](%s)"
          % os.path.relpath(o.chart, os.path.dirname(os.path.abspath(o.doc))))
        w("")
    w("## Where the bytes go (32-bit, link map)")
    w("")
    w("| from | .text | .rdata | .data | .eh_frame |")
    w("|---|---|---|---|---|")
    for who, sec in sorted(r["map"].items(), key=lambda kv: -sum(kv[1].values())):
        w("| %s | %s |" % (who, " | ".join(format(sec.get(s, 0), ",") for s in (".text", ".rdata", ".data", ".eh_frame"))))
    w("")
    w("Sections of the 32-bit installer: " + ", ".join("%s %s" % (s["name"], format(s["rawsize"], ","))
                                                      for s in r["sections"]) + " bytes in the file.")
    w("")
    w("## Libraries loaded by a quiet run (64-bit build)")
    w("")
    w(", ".join(r["libraries"]))
    w("")
    w("## Machine")
    w("")
    for k, v in machine_facts().items():
        w("- %s: %s" % (k, v))
    with open(o.doc, "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("win32", "win64", "bench32", "bench64", "nsis", "work", "doc"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--chart")
    ap.add_argument("--mem-runs", type=int, default=10)
    ap.add_argument("--host32", default="not natively")
    ap.add_argument("--command", default="bash bench/run.sh")
    ap.add_argument("--source-note", default="the working tree")
    o = ap.parse_args()
    os.makedirs(o.work, exist_ok=True)
    try:
        r = measure(o)
    except BenchFailed as e:
        print("bench: FAILED: %s" % e, file=sys.stderr)
        return 1
    if o.chart:
        write_chart(r, o.chart, o.work)
        log("wrote %s" % o.chart)
    write_doc(r, o)
    log("wrote %s" % o.doc)
    return 0


if __name__ == "__main__":
    sys.exit(main())
