#!/usr/bin/env python3
"""Writes the benchmark's note (docs/BENCHMARKS.md) and chart from the
figures bench/bench.py kept in results.json. It measures nothing, so a note
can be written again from an earlier run's figures. The size's growth is
judged against bench/size_baseline.json and bench/size_features.txt
(size_growth.py).

  report.py RESULTS.json --doc FILE --chart PNG --work DIR
            [--build-seconds N] [--total-seconds N]

Python standard library only (the chart: gnuplot).
"""
import argparse
import json
import os
import re
import subprocess
import sys

import size_growth
from common import DURABLE_RATIO, FLOOR_RATIO, MIB, NSIS_RATIO, RESIDENT_ALLOWANCE

from winepe.installation import APP_DIR, GUI_LIBRARIES, UNINSTALL_KEY

SHORT = {"durable": "durable floor", "nsis": "NSIS", "phases": "phase build", "noop": "no-op"}

LABELS64 = {"installer": "installer: `LexomirUpdate-x64-test.exe modest`",
            "phases": "phase build: the installer with the stage listener (`bench/phases.cpp`)",
            "noop": "no-op (`bench/noop.c`)",
            "floor": "floor: find the resource, one `WriteFile` (`bench/floor.c`)",
            "durable": "durable floor: the same to `~lxn.cok`, `FlushFileBuffers`, `MoveFileExA`",
            "installer_aligned": "installer, every section at 4 KiB in the file",
            "installer_512": "installer, linker default (no resource move)"}
LABELS32 = {"installer": "installer: `LexomirUpdate.exe modest`",
            "nsis": "NSIS installer: `/S`, uncompressed, CRC check on (`bench/nsis/update.nsi`)",
            "noop": "no-op", "floor": "floor", "durable": "durable floor"}
# The phases of a run, in their order: (key, label, the grouping).
PHASES = (("process", "process start: creation, loading the image and DLLs, runtime start", "start-up"),
          ("startup", "program start: the rest of the runtime's start, library search, process environment",
           "start-up"),
          ("discovery", "discovery, rights, the running-application probe", "discovery"),
          ("selfcheck", "the application's presence (a quiet run's self-check is made with the write)", "self-check"),
          ("write", "write: the folder held, the temporary file, the self-check's one reading of the own file, "
           "whose pieces of the data go to the temporary file, up to the last `WriteFile`'s return", "write"),
          ("flush_rename", "flush and rename: `FlushFileBuffers`, the rename (`SetFileInformationByHandle`), the "
           "close, the buffer freed", "flush and rename"),
          ("size", "size and registry: the folder walk, `EstimatedSize`", "size and registry"),
          ("ending", "end of the sequence, release, return from `WinMain`", "exit"),
          ("exit", "exit: the runtime's exit and the process's end", "exit"))
GROUPS = ("start-up", "discovery", "self-check", "write", "flush and rename", "size and registry", "exit")


def mib(n):
    return n / MIB


def ms_cells(s):
    return "%.1f | %.1f – %.1f | %.1f – %.1f" % (s["median"], s["q1"], s["q3"], s["min"], s["max"])


def mem_cells(m):
    """Peak resident and peak private MiB: median (min – max) of each."""
    return "%.1f (%.1f – %.1f) | %.1f (%.1f – %.1f)" % (
        mib(m["peak_ws"]["median"]), mib(m["peak_ws"]["min"]), mib(m["peak_ws"]["max"]),
        mib(m["peak_private"]["median"]), mib(m["peak_private"]["min"]), mib(m["peak_private"]["max"]))


def verdict(ok):
    return "**met**" if ok else "**missed**"


def spread(s):
    """Interquartile range as a share of the median."""
    return (s["q3"] - s["q1"]) / s["median"] if s["median"] else 0.0


def group_medians(ph):
    out = {g: 0.0 for g in GROUPS}
    for key, _, group in PHASES:
        out[group] += ph[key]["median"]
    return out


def signed(n):
    return format(n, "+,")


def size_target(grown):
    """The size row of the targets: the size against the baseline's, and
    whether listed features account for all the growth."""
    target = "size besides the payload ≤ %s bytes (commit %s) + what listed features add" % (
        format(grown["base"], ","), grown["commit"])
    figure = ("%s bytes (32-bit installer), %s: listed features %s, smaller or dropped inputs %s, base "
              "relocations %s, headers and alignment %s; unexplained: %s" % (
                  format(grown["size"], ","), signed(grown["size"] - grown["base"]), signed(grown["accounted"]),
                  signed(grown["shrunk"]), signed(grown["relocations"]), signed(grown["layout"]),
                  "%s bytes" % format(grown["unexplained"], ",") if grown["unexplained"] else "none"))
    return target, figure, verdict(grown["unexplained"] == 0)


def unfair(r, label, names):
    """Why a comparison of these contenders gets no verdict, or None: a
    program whose payload the loader reads into private memory before it
    starts pays for something the installer does not."""
    mapped = r.get("mapped", {}).get(label)
    if mapped is None:
        return "no verdict: these figures do not say how the programs' payloads stand in the file"
    read = [SHORT.get(n, n) for n in names if not mapped.get(n)]
    if not read:
        return None
    return ("no verdict: the resources of the %s do not start on a page in the file, so the loader reads "
            "the payload instead of mapping it" % " and the ".join(read))


def targets(r, grown):
    """(target, figure, verdict) of every target."""
    rows = []
    x = r["x64"]
    t, pr, mem = x["times"], x["pairs"], x["memory"]
    inst = t["installer"]["median"]
    for key, name, limit in (("durable", "durable floor", DURABLE_RATIO), ("floor", "floor", FLOOR_RATIO)):
        base = t[key]["median"]
        p = pr["installer/" + key]
        rows.append(("64-bit quiet install ≤ %s × the %s" % (limit, name),
                     "%.1f ms against %.1f ms: **%.2f** (per round %.2f, %.2f – %.2f)"
                     % (inst, base, inst / base, p["median"], p["min"], p["max"]),
                     unfair(r, "x64", ("installer", key)) or verdict(inst / base <= limit)))
    peak, durable_peak = mem["installer"]["peak_ws"]["median"], mem["durable"]["peak_ws"]["median"]
    rows.append(("64-bit peak resident memory ≤ the durable floor's + 8 MiB",
                 "%.1f MiB against %.1f + 8 = %.1f MiB" % (mib(peak), mib(durable_peak),
                                                          mib(durable_peak + RESIDENT_ALLOWANCE)),
                 unfair(r, "x64", ("installer", "durable")) or verdict(peak <= durable_peak + RESIDENT_ALLOWANCE)))
    if "x86" in r:
        t32, p = r["x86"]["times"], r["x86"]["pairs"]["installer/nsis"]
        ratio = t32["installer"]["median"] / t32["nsis"]["median"]
        rows.append(("32-bit quiet install ≤ %s × NSIS (where 32-bit code runs natively)" % NSIS_RATIO,
                     "%.1f ms against %.1f ms: **%.2f** (per round %.2f, %.2f – %.2f)"
                     % (t32["installer"]["median"], t32["nsis"]["median"], ratio, p["median"], p["min"], p["max"]),
                     verdict(ratio <= NSIS_RATIO)))
    else:
        rows.append(("32-bit quiet install ≤ %s × NSIS (where 32-bit code runs natively)" % NSIS_RATIO, "-",
                     "not measured: this host runs 32-bit code %s" % r["meta"]["host32"]))
    if grown:
        rows.append(size_target(grown))
    else:
        rows.append(("size besides the payload ≤ the size at the baseline + what listed features add",
                     "%s bytes (32-bit installer)" % format(r["size"]["installer"], ","),
                     "not judged: these figures have no link-map inputs"))
    loaded = sorted(set(GUI_LIBRARIES).intersection(r["libraries"]))
    imported = sorted(set(GUI_LIBRARIES).intersection(d.lower() for d in r["imports32"]))
    rows.append(("no GUI library loaded by a quiet run",
                 "64-bit build: %s; the 32-bit installer imports %s"
                 % (", ".join(loaded) or "none of " + ", ".join(name[:-4] for name in GUI_LIBRARIES),
                    ", ".join(imported) or "none of them"),
                 verdict(not loaded and not imported)))
    return rows


def write_chart(r, path, work):
    x = r["x64"]
    t = x["times"]
    times = os.path.join(work, "chart_times.dat")
    with open(times, "w") as out:
        # label median q1 q3 group (0: 64-bit, 1: 32-bit)
        for key in ("noop", "floor", "durable", "installer"):
            s = t[key]
            out.write('"%s\\n64-bit" %.2f %.2f %.2f 0\n' % ({"durable": "durable floor"}.get(key, key), s["median"],
                                                          s["q1"], s["q3"]))
        if "x86" in r:
            for key in ("noop", "floor", "durable", "installer", "nsis"):
                s = r["x86"]["times"][key]
                out.write('"%s\\n32-bit" %.2f %.2f %.2f 1\n' % ({"durable": "durable floor", "nsis": "NSIS"}
                                                              .get(key, key), s["median"], s["q1"], s["q3"]))
    phases = os.path.join(work, "chart_phases.dat")
    g = group_medians(x["phases"])
    with open(phases, "w") as out:
        out.write("label " + " ".join('"%s"' % k for k in GROUPS) + ' "whole run"\n')
        out.write('"installer\\n(phase build)" ' + " ".join("%.2f" % g[k] for k in GROUPS) + " 0\n")
        for key, label in (("durable", "durable floor"), ("floor", "floor"), ("noop", "no-op")):
            out.write('"%s" ' % label + " ".join("0" for _ in GROUPS) + " %.2f\n" % t[key]["median"])
    mem = os.path.join(work, "chart_memory.dat")
    m = x["memory"]
    with open(mem, "w") as out:
        for key, label in (("noop", "no-op"), ("floor", "floor"), ("durable", "durable floor"),
                           ("installer", "installer"), ("installer_aligned", "installer,\\n4 KiB sections"),
                           ("installer_512", "installer,\\nno resource move")):
            out.write('"%s" %.2f %d\n' % (label, mib(m[key]["peak_ws"]["median"]), key.startswith("installer_")))
    limit = mib(m["durable"]["peak_ws"]["median"] + RESIDENT_ALLOWANCE)
    top = max(limit, max(mib(v["peak_ws"]["median"]) for v in m.values())) * 1.15
    script = """
set terminal pngcairo size 1500,1000 font "sans,10"
set output '%(png)s'
set multiplot layout 2,2
set bmargin 4
set style fill solid 0.7 border -1
set grid ytics
set yrange [0:*]
set xtics scale 0 noenhanced
set palette defined (0 "#4a7ebb", 1 "#e69138")
set cbrange [0:1]
unset colorbox
set boxwidth 0.6
set title "Quiet install under Wine, whole process: median ms of %(n)d rounds (bars: quartiles)" noenhanced
plot '%(times)s' using 0:2:5:xtic(1) with boxes lc palette notitle, \\
     '' using 0:2:3:4 with yerrorbars lc rgb "black" pt 0 notitle
set title "Where the 64-bit installer's time goes (medians, ms)" noenhanced
set style data histograms
set style histogram rowstacked
set boxwidth 0.5
set key outside right center vertical noenhanced
plot for [i=2:9] '%(phases)s' using i:xtic(1) title columnheader(i)
unset key
set style data boxes
set boxwidth 0.6
set title "Peak resident memory, 64-bit under wine64 (MiB, median of %(m)d)" noenhanced
set yrange [0:%(top).1f]
set arrow from graph 0, first %(limit).2f to graph 1, first %(limit).2f nohead lc rgb "#cc0000" dt 2
set label "target: durable floor + 8 MiB" at graph 0.02, first %(limit).2f offset 0,0.7 tc rgb "#cc0000"
plot '%(mem)s' using 0:2:3:xtic(1) with boxes lc palette notitle, \\
     '' using 0:2:(sprintf("%%.1f", $2)) with labels offset 0,1 notitle
unset arrow
unset label
set yrange [0:%(ratio_top).2f]
set title "Per-round ratios (median, bars: quartiles; red: the target)" noenhanced
set arrow from graph 0, first 1 to graph 1, first 1 nohead lc rgb "#999999"
plot '%(ratios)s' using 0:2:xtic(1) with boxes lc rgb "#6aa84f" notitle, \\
     '' using 0:2:3:4 with yerrorbars lc rgb "black" pt 0 notitle, \\
     '' using 0:5 with points pt 7 ps 1.5 lc rgb "#cc0000" notitle
unset multiplot
"""
    ratios = os.path.join(work, "chart_ratios.dat")
    ratio_top = 0.0
    with open(ratios, "w") as out:
        for key, label, target in (("installer/durable", "installer ÷\\ndurable floor", DURABLE_RATIO),
                                   ("installer/floor", "installer ÷\\nfloor", FLOOR_RATIO)):
            p = x["pairs"][key]
            out.write('"%s" %.3f %.3f %.3f %.2f\n' % (label, p["median"], p["q1"], p["q3"], target))
            ratio_top = max(ratio_top, p["q3"] * 1.15, target * 1.15)
        if "x86" in r:
            p = r["x86"]["pairs"]["installer/nsis"]
            out.write('"32-bit installer ÷\\nNSIS" %.3f %.3f %.3f %.2f\n' % (p["median"], p["q1"], p["q3"],
                                                                            NSIS_RATIO))
    gp = os.path.join(work, "chart.gp")
    with open(gp, "w") as out:
        out.write(script % {"png": path, "times": times, "phases": phases, "mem": mem, "ratios": ratios,
                            "n": t["installer"]["n"], "m": m["installer"]["peak_ws"]["n"], "limit": limit,
                            "top": top, "ratio_top": ratio_top})
    subprocess.run(["gnuplot", gp], check=True)


def short_symbol(symbol):
    """An import's function name without its decoration (_imp__GetDC@4: GetDC)."""
    m = re.match(r"^_*imp_+([A-Za-z0-9_]+?)(@\d+)?$", symbol or "")
    return m.group(1) if m else symbol


def by_section(changes):
    return ", ".join("%s %s" % (s, signed(d)) for s, d in sorted(changes.items(), key=lambda kv: -abs(kv[1])))


def library_story(members):
    """What a library's changed members say: which objects new ones were
    taken for, and which are smaller or no longer taken."""
    parts = []
    taken = {}
    for m in members:
        if m["new"] and "taken_for" in m:
            name = m["input"].split("(", 1)[1][:-1]
            if m["taken_by"] != m["taken_for"] or not m["taken_for"]:
                item = name  # taken with another new member
            elif re.match(r"^_*imp_", m["symbol"]):
                item = short_symbol(m["symbol"])
            else:
                item = "%s (%s)" % (name, m["symbol"])
            taken.setdefault((m["taken_for"] or "nothing the map names", m["unexplained"] > 0), []).append(item)
    for (root, unexplained), items in taken.items():
        text = "taken for %s: %s" % (root, ", ".join(items))
        parts.append("**%s (unexplained)**" % text if unexplained else text)
    for m in members:
        if m["change"] > 0 and "taken_for" not in m:
            text = "%s %s %s" % (m["input"], "new," if m["new"] else "grew", signed(m["change"]))
            parts.append(text + (": " + m["why"] if not m["unexplained"] else
                                 " (**%s bytes unexplained**)" % format(m["unexplained"], ",")))
    gone = [m["input"].split("(", 1)[1][:-1] for m in members if m["gone"]]
    smaller = [m["input"].split("(", 1)[1][:-1] for m in members if m["change"] < 0 and not m["gone"]]
    if gone:
        parts.append("no longer taken: " + ", ".join(gone))
    if smaller:
        parts.append("smaller: " + ", ".join(smaller))
    return "; ".join(parts)


def write_growth(w, grown):
    w("### Growth since the size target was set (commit %s)" % grown["commit"])
    w("")
    w("The installer's link against the same link of commit %s (`bench/size_baseline.json`), input by input: "
      "each object by its source file, each library with the members that changed. What accounts for a "
      "growth: for an object, the features that `bench/size_features.txt` lists for it, up to the bytes "
      "it lists; for a library member the link did not take then, the object the link map says it was "
      "taken for, when that object's growth is accounted for; a member that grew in place, or was taken for "
      "anything else, only as far as the table lists it. Bytes beyond are unexplained, and the size target "
      "is met only when there are none. The base relocations and the headers, the alignment in the file "
      "and the resources' move to a page follow from the rest and are shown, not judged (the move alone "
      "can take up to a page less a byte)." % grown["commit"])
    w("")
    w("| input | at %s | now | growth | by section | accounted for by |" % grown["commit"])
    w("|---|---:|---:|---:|---|---|")
    rows = grown["rows"]
    libraries = {}
    for row in rows:
        if row["kind"] == "library":
            libraries.setdefault(row["input"].split("(", 1)[0], []).append(row)
    lines = []
    for row in rows:
        if row["kind"] in ("ours", "toolchain"):
            why = row["why"] if row["change"] > 0 else "smaller" if not row["gone"] else "no longer linked"
            if row["unexplained"]:
                why = (why + "; " if why else "") + "**%s bytes unexplained**" % format(row["unexplained"], ",")
            name = "`%s`%s" % (row["input"], " (new)" if row["new"] else "")
            lines.append((row["change"], name, row["before"], row["after"], row["sections"], why))
    for library, members in libraries.items():
        sections = {}
        for m in members:
            for s, d in m["sections"].items():
                sections[s] = sections.get(s, 0) + d
        totals = grown["libraries"][library]
        lines.append((sum(m["change"] for m in members), "`%s`" % library, totals["before"], totals["after"],
                      sections, library_story(members)))
    for change, name, before, after, sections, why in sorted(lines, key=lambda line: -line[0]):
        w("| %s | %s | %s | %s | %s | %s |" % (name, format(before, ","), format(after, ","), signed(change),
                                               by_section(sections), why))
    relocation = next((r for r in rows if r["kind"] == "linker"), None)
    if relocation:
        w("| base relocations (made by the linker) | %s | %s | %s | %s | follow the code that holds addresses |"
          % (format(relocation["before"], ","), format(relocation["after"], ","), signed(relocation["change"]),
             by_section(relocation["sections"])))
    w("| headers, alignment in the file, the resources' move to a page | | | %s | | follow the rest |"
      % signed(grown["layout"]))
    w("| **the installer besides the payload** | **%s** | **%s** | **%s** | | listed features %s, smaller or "
      "dropped %s; **unexplained: %s** |" % (
          format(grown["base"], ","), format(grown["size"], ","), signed(grown["size"] - grown["base"]),
          signed(grown["accounted"]), signed(grown["shrunk"]),
          format(grown["unexplained"], ",") + " bytes" if grown["unexplained"] else "none"))
    w("")


def write_opening(w, r, o, grown):
    """The title, who wrote the note from what, the host, the chart and the targets."""
    meta = r["meta"]
    w("# Benchmark: the installer against its floors and NSIS")
    w("")
    took = ""
    if o.total_seconds:
        took = ", in %d s (%d s of it building)" % (o.total_seconds, o.build_seconds)
    w("Written by `%s` on %s from %s%s." % (meta["command"], meta["date"], meta["source_note"], took))
    if meta.get("trial"):
        w("")
        w("**A trial run** (`--try`): too few rounds for figures to go by.")
    w("")
    if meta["host32"] == "native":
        w("**Host: runs 32-bit code natively** (%s). Both builds were timed: the 64-bit test build natively "
          "under wine64 against 64-bit floors, and the shipped 32-bit installer natively under Wine against "
          "NSIS and 32-bit floors." % meta["host32_why"])
    else:
        w("**Host: runs 32-bit code %s** (%s). The 64-bit test build was timed, natively under wine64, "
          "against 64-bit floors; the shipped 32-bit installer was not: under emulation each of its "
          "instructions is translated, so a time taken there would be the emulator's. Its sizes need no run "
          "and are given." % (meta["host32"], meta["host32_why"]))
    w("")
    w("![Times, phases, memory and ratios](%s)" % os.path.relpath(o.chart, os.path.dirname(os.path.abspath(o.doc))))
    w("")
    w("## Targets")
    w("")
    w("Ratios of medians taken in this one run, in one warm prefix.")
    w("")
    w("| target | measured | verdict |")
    w("|---|---|---|")
    for row in targets(r, grown):
        w("| %s | %s | %s |" % row)
    w("")


def write_noise(w, r):
    """How busy the machine was and how much the times spread."""
    meta, x = r["meta"], r["x64"]
    t = x["times"]
    w("## How steady the machine was")
    w("")
    nproc = float(meta["machine"]["nproc"])
    loads = [(k, v) for k, v in r["loads"] if k != "start"]
    busy = [k for k, v in loads if v[0] > nproc]
    w("Load average (1, 5, 15 min) at each point: " + "; ".join("%s: %s" % (k, ", ".join("%.2f" % x for x in v))
                                                                for k, v in r["loads"]) + ".")
    w("")
    if busy:
        w("**The machine was busy**: the 1-minute load was above the %d processors at %s. Every program "
          "ran in the same rounds, in an order shuffled each round, so the load fell on all alike; the "
          "per-round ratios are the figures to go by, and a quiet machine gives lower times." %
          (int(nproc), "every point measured" if len(busy) == len(loads) else ", ".join(busy)))
    else:
        w("The 1-minute load stayed at or below the number of processors (%d) while the benchmark "
          "measured." % int(nproc))
    w("")
    w("Spread of the whole-run times (interquartile range as a share of the median): " +
      ", ".join("%s %.0f %%" % (SHORT.get(k, k), 100 * spread(t[k])) for k in x["order"]) +
      ("; 32-bit: " + ", ".join("%s %.0f %%" % (SHORT.get(k, k), 100 * spread(r["x86"]["times"][k]))
                                for k in r["x86"]["order"])
       if "x86" in r else "") + ".")
    w("")


def write_times64(w, r):
    """The 64-bit whole runs and their ratios."""
    x = r["x64"]
    t = x["times"]
    w("## 64-bit test build under wine64: whole runs")
    w("")
    w("Wall time from just before `CreateProcess` to the end of the wait, taken inside Wine by "
      "`bench/launcher.c` (64-bit) with `QueryPerformanceCounter`. %d rounds after one warm-up round; "
      "each round runs every program once, in a shuffled order. Before each run the folder holds an "
      "older 2 KB `lxn.cok`, `EstimatedSize` is deleted and the page cache is written back, outside the "
      "timing. After each run the benchmark checks the exit code (0), the data file (the payload's "
      "SHA-256, no `~lxn.cok` left) and for the installers `EstimatedSize`. The installation is `%s` "
      "with `Lexomir.exe` (the Wine tests' stand-in, not running) and the uninstall entry "
      "`HKLM\\%s` (64-bit view)." % (t["installer"]["n"], APP_DIR, UNINSTALL_KEY))
    w("")
    w("| program | median ms | quartiles | min – max |")
    w("|---|---:|---:|---:|")
    for key in x["order"]:
        w("| %s | %s |" % (LABELS64[key], ms_cells(t[key])))
    w("")
    w("| ratio | of the medians | per round: median | quartiles | min – max |")
    w("|---|---:|---:|---:|---:|")
    for key, p in x["pairs"].items():
        a, b = key.split("/")
        w("| %s ÷ %s | %.2f | %.2f | %.2f – %.2f | %.2f – %.2f |"
          % (SHORT.get(a, a), SHORT.get(b, b), t[a]["median"] / t[b]["median"], p["median"], p["q1"], p["q3"], p["min"], p["max"]))
    w("")
    w("The phase build is the installer with one object more, which reads the counter at each stage and "
      "writes one line at exit, so phase build ÷ installer should be close to 1: how far it strays in a "
      "run says as much about that run's noise as about the stamps.")
    w("")


def write_phases(w, r):
    """The phases of the phase build's runs, against the floors."""
    t, ph = r["x64"]["times"], r["x64"]["phases"]
    w("## Where the time goes: the phases of a real run (64-bit)")
    w("")
    w("`bench/phases.cpp` listens to the stages the installer's own sequence announces "
      "(`runtime/run_stages.h`) and stamps the write's `WriteFile`, `FlushFileBuffers` and the rename; "
      "the launcher's start and end of the run close the first and last phase, so the phases add up to "
      "the whole run. Medians of %d runs, in ms:" % ph["wall"]["n"])
    w("")
    w("| phase | median | quartiles | min – max |")
    w("|---|---:|---:|---:|")
    g = group_medians(ph)
    # A group of several phases gets a row of its own, its phases indented under it.
    phases_in = {group: sum(1 for _, _, gg in PHASES if gg == group) for group in GROUPS}
    last = None
    for key, label, group in PHASES:
        if group != last and phases_in[group] > 1:
            w("| **%s** | **%.1f** | | |" % (group, g[group]))
        last = group
        prefix = "&nbsp;&nbsp;" if phases_in[group] > 1 else ""
        w("| %s%s | %s |" % (prefix, label, ms_cells(ph[key])))
        if key == "flush_rename":
            w("| &nbsp;&nbsp;of which inside `FlushFileBuffers` | %s |" % ms_cells(ph["flush"]))
            w("| &nbsp;&nbsp;of which inside `MoveFileExA` | %s |" % ms_cells(ph["move"]))
    w("| **the whole run** | %s |" % ms_cells(ph["wall"]))
    w("")
    noop, floor, durable = t["noop"]["median"], t["floor"]["median"], t["durable"]["median"]
    inst = t["installer"]["median"]
    w("Against the floors, in medians of the same rounds: the installer takes %.1f ms more than the durable "
      "floor (%.1f against %.1f ms). A no-op's whole run is %.1f ms; the durable floor spends %.1f ms beyond "
      "it on finding the resource, writing, flushing and renaming, where the installer's write (its "
      "self-check included) and flush and rename take %.1f ms. What the floors do not have at all besides: "
      "the stage before the write (%.1f ms), discovery "
      "(%.1f ms), the size and registry (%.1f ms), and start-up and exit beyond a no-op's whole run "
      "(%.1f ms together)."
      % (inst - durable, inst, durable, noop, durable - noop, g["write"] + g["flush and rename"], g["self-check"],
         g["discovery"], g["size and registry"], g["start-up"] + g["exit"] - noop))
    w("")


def write_memory64(w, r):
    """Peak resident and private memory of the 64-bit programs."""
    mem = r["x64"]["memory"]
    w("## Memory (64-bit)")
    w("")
    w("Peak resident memory: the launcher samples the program's counters every millisecond while it runs "
      "(`--poll 1`, in %d rounds of their own, as sampling disturbs the time) and keeps the largest "
      "`PeakWorkingSetSize`. Under Wine that is the kernel's high-water mark of the process's resident "
      "set (VmHWM); an ended process has no counters left, so the last sample stands for the end. The same "
      "for every program. Peak private bytes are the largest `PrivateUsage` sampled: under Wine the "
      "process's anonymous resident memory at that moment." % mem["installer"]["peak_ws"]["n"])
    w("")
    w("| program | peak resident MiB: median (min – max) | peak private MiB: median (min – max) |")
    w("|---|---:|---:|")
    for key in ("noop", "floor", "durable", "installer", "installer_aligned", "installer_512"):
        w("| %s | %s |" % (LABELS64[key], mem_cells(mem[key])))
    w("")


def write_x86(w, r):
    """The 32-bit installer against NSIS, where it was timed."""
    meta = r["meta"]
    w("## 32-bit installer against NSIS")
    w("")
    if "x86" in r:
        x86 = r["x86"]
        w("The same rounds and checks, with the 32-bit programs (started by the same 64-bit launcher). "
          "The NSIS installer does the same job: it finds the folder from `UninstallString`, refuses when "
          "`Lexomir.exe` is missing, writes `lxn.cok` and stores `EstimatedSize`.")
        w("")
        w("| program | median ms | quartiles | min – max |")
        w("|---|---:|---:|---:|")
        for key in x86["order"]:
            w("| %s | %s |" % (LABELS32[key], ms_cells(x86["times"][key])))
        w("")
        w("| ratio | of the medians | per round: median | min – max |")
        w("|---|---:|---:|---:|")
        for key, p in x86["pairs"].items():
            a, b = key.split("/")
            w("| %s ÷ %s | %.2f | %.2f | %.2f – %.2f |" % (SHORT.get(a, a), SHORT.get(b, b), x86["times"][a]["median"] / x86["times"][b]["median"],
                                                        p["median"], p["min"], p["max"]))
        w("")
        w("| program | peak resident MiB: median (min – max) | peak private MiB: median (min – max) |")
        w("|---|---:|---:|")
        for key, m in x86["memory"].items():
            w("| %s | %s |" % (LABELS32[key], mem_cells(m)))
    else:
        w("Not timed: this host runs 32-bit code %s (%s)." % (meta["host32"], meta["host32_why"]))
    w("")


def write_layouts(w, r):
    """The layouts in the file: sizes and memory, and whether the benchmark's links match."""
    mem = r["x64"]["memory"]
    size = r["size"]
    w("## Size: section alignment in the file")
    w("")
    w("Under Wine a section whose bytes start at a page boundary in the file is mapped from the file; any "
      "other is read into private memory. The installer keeps the linker's 512-byte alignment and has only "
      "its resource section (the payload) moved to a page after linking. A quiet run never reads the "
      "payload where it is mapped (its data goes to the temporary file from the self-check's reading of the "
      "file), so a mapped payload costs it no resident memory, and one read in at load costs it both "
      "resident and private memory.")
    w("")
    w("| build | alignment in the file | size besides the payload (32-bit) | peak resident MiB (64-bit) "
      "| peak private MiB (64-bit) |")
    w("|---|---|---:|---:|---:|")
    for label, key in (("as built", "installer"), ("every section at 4 KiB", "installer_aligned"),
                       ("linker default", "installer_512")):
        w("| %s | %s | %s | %.1f | %.1f |" % (label, r["layout"][key], format(size[key], ","),
                                              mib(mem[key]["peak_ws"]["median"]),
                                              mib(mem[key]["peak_private"]["median"])))
    w("")
    w("NSIS's installer carries %s bytes besides the payload; the 64-bit test build %s, its phase build %s."
      % (format(size["nsis"], ","), format(size["installer64"], ","), format(size["phases64"], ",")))
    checks = []
    for bits, key, ref in (("32", "as_built32", "installer"), ("64", "as_built64", "installer64")):
        if size[key] != size[ref]:
            checks.append("the benchmark's %s-bit link of the installer's objects gives %s bytes, not %s"
                          % (bits, format(size[key], ","), format(size[ref], ",")))
    if checks:
        w("**Note:** %s: `bench/CMakeLists.txt` no longer links as `cmake/windows.cmake` does, and the "
          "layouts and the phase build differ from the installer by more than their one change." % "; ".join(checks))
    else:
        w("The benchmark's own links of the installer's objects give the installers' sizes exactly, so the "
          "layouts and the phase build differ from the installer only by their one change.")
    w("")


# What decides the size besides the payload, as the link maps show it.
BYTES_STORY = (
    "Two things decide the size besides the payload, both read from the link map (`-Wl,-Map`):",
    "",
    "- Which objects the link takes, not which functions are called. GNU ld's default script for PE keeps every "
    "`.eh_frame` input, and each unwind entry refers to its function; as every function that may throw has an "
    "entry, `--gc-sections` removes no code (the same link without it has the same `.text`). An archive member "
    "that is taken brings all its functions; one nothing refers to is left out, which is why the dormant paths "
    "(docs/ARCHITECTURE.md) cost the installer nothing.",
    "- What those members refer to. A `std::string` or `std::vector` that can fail calls "
    "`std::__throw_length_error` and its kin (libstdc++'s `functexcept.o`), which constructs `std::logic_error` "
    "and the other standard exceptions; their message is a copy-on-write string of the old ABI "
    "(`cow-stdexcept.o`), which takes every member of that string (`cow-string-inst.o`) and, through its "
    "conversions to the new string (`sso_string.o`) and the string's `std::random_device` entry (`random.o`), "
    "every member of the new-ABI string (`string-inst.o`). The product instantiates the string members it calls "
    "itself; these two objects, about 60 KB with their unwind tables, are there only through that chain. "
    "`-Wl,--trace-symbol=NAME` names who refers to a symbol.",
    "",
    "Linked by lld 14 instead (by hand, from the same objects and libraries), the installer took 195 KB besides "
    "the payload at 512 bytes, against 251 KB from GNU ld: lld drops the unused functions of the members it "
    "takes. The build does not use it: the 32-bit installer it links crashes at the first call through "
    "dlltool's delay-import thunks, so it would need another way of delay-loading the GUI libraries; its "
    "defaults also differ (subsystem version 6.0, the terminal-server-aware flag, a 1 MiB stack reserve).",
    "",
    "Only the resource section is moved to a page in the file; the gap before it is up to a page of padding, so "
    "code that grows may cost nothing until it crosses a page, and then a whole one.",
    "",
    "The size target is the bytes besides the payload of the baseline commit, plus what listed features add. "
    "`bench/size_baseline.json` holds that link's bytes input by input; `bench/size_features.txt` names each "
    "input that grew and the features (with their commits) that grew it. A grown input is explained up to the "
    "bytes listed for it; a library member the baseline did not take is explained when the link map traces it "
    "to an explained input; base relocations, headers and alignment are shown, not judged. The target is met "
    "only when no byte is unexplained, and the windows build's test `size_growth` fails otherwise, so a feature "
    "that grows the installer adds its line in its own commit.",
)


def write_bytes(w, r, grown):
    """Where the 32-bit installer's bytes go, and their growth when judged."""
    w("### Where the bytes go (32-bit, link map)")
    w("")
    for line in BYTES_STORY:
        w(line)
    w("")
    w("| from | .text | .rdata | .data | .eh_frame |")
    w("|---|---:|---:|---:|---:|")
    for who, sec in sorted(r["map"].items(), key=lambda kv: -sum(kv[1].values())):
        w("| %s | %s |" % (who, " | ".join(format(sec.get(s, 0), ",") for s in (".text", ".rdata", ".data",
                                                                             ".eh_frame"))))
    w("")
    w("Sections of the 32-bit installer: " + ", ".join("%s %s" % (s["name"], format(s["rawsize"], ","))
                                                      for s in r["sections"]) + " bytes in the file.")
    w("")
    if grown:
        write_growth(w, grown)


def write_run_facts(w, r):
    """The libraries a quiet run loads, the hash throughput and the machine."""
    meta = r["meta"]
    w("## Libraries loaded by a quiet run (64-bit)")
    w("")
    w("From the loader's trace (`WINEDEBUG=+pid,+loaddll`): " + ", ".join(r["libraries"]) + ".")
    w("")
    w("## SHA-256 throughput (64-bit)")
    w("")
    w("`bench/hashspeed.cpp` over the 64-bit test build's file, %d rounds in one process:"
      % next(iter(r["hash"].values()))["ms"]["n"])
    w("")
    w("| method | median ms | min – max | MiB/s (median) |")
    w("|---|---:|---:|---:|")
    names = {"read": "`ReadFile` in 1 MiB pieces, no hashing", "bcrypt": "CNG `BCryptHashData`",
             "capi": "CryptoAPI `CALG_SHA_256`", "shani": "the product's `Sha256` on the SHA extensions"}
    for m, v in r["hash"].items():
        w("| %s | %.1f | %.1f – %.1f | %.0f |" % (names.get(m, m), v["ms"]["median"], v["ms"]["min"], v["ms"]["max"],
                                                  v["mib_s"]["median"]))
    w("")
    w("## Machine")
    w("")
    f = meta["machine"]
    w("%s processors (%s), %s memory, Linux %s; %s, win64 prefix with the null graphics driver and "
      "`WINEDEBUG=-all`; MinGW-w64 gcc %s; NSIS %s. Measuring took %.0f s: %s."
      % (f["nproc"], f["cpu"], f["mem"], f["kernel"], f["wine"], f["mingw"], f["nsis"], r["measuring_s"],
         ", ".join("%s %.0f s" % kv for kv in r["durations"].items())))
    w("")


def write_how_to_run(w):
    """How the note is made again."""
    w("## How to run")
    w("")
    w("```sh")
    w("bash bench/run.sh            # builds what it needs, measures, rewrites this file and the chart")
    w("bash bench/run.sh --runs 20  # more timed rounds (default 15, at least 10); --mem-runs for memory")
    w("bash bench/run.sh --head     # measure the last commit rather than the working tree")
    w("bash bench/run.sh --try --runs 3 --mem-runs 2   # try the harness; the note goes to the build folder")
    w("```")
    w("")
    w("Run as root on Debian 12 (it installs NSIS and gnuplot when missing). It builds the `windows` and "
      "`windows64` presets and `bench/` for both into `/tmp/lexomir-bench` (`--build DIR`), makes a win64 "
      "prefix there and ends its wineserver. `bench/bench.py` measures and keeps every figure in "
      "`results.json` in the work folder; `bench/report.py` writes this note and the chart from it, and "
      "can write them again from an earlier run's `results.json`.")


# Verdicts this note gave before, and why they did not hold.
HISTORY = (
    "Until commit 60d6c0c the floors and the no-op kept the linker's 512-byte alignment in the file, while the "
    "installer's resources are moved to a page: Wine then read each floor's whole 28 MB image into private memory "
    "before its first instruction, which the installer never pays, and every ratio against a floor flattered the "
    "installer. Those verdicts did not hold:",
    "",
    "- 2026-12-10, commit 0e0f413, a host that runs 32-bit code natively: the 64-bit quiet install 76.7 ms "
    "against 71.4 ms for the durable floor (**1.07**) and 44.4 ms for the floor (**1.73**), both given as met.",
    "- The same benchmark of commit 75433d8 on a host that runs no 32-bit code: 166 ms against 254 ms and 216 ms "
    "(0.65 and 0.77): the installer, which also hashes its own file, faster than a program that only writes "
    "the data. With the floors built at 4 KiB file alignment, the same host gave 1.52 and 1.87 (25 paired rounds).",
    "",
    "With fair floors, a quiet run that hashed its own file on a thread while it wrote the data file (commit "
    "9395596) gave 139.9 ms against 103.7 ms for the durable floor (**1.35**) and 72.7 ms for the floor (**1.92**), "
    "from 158.1 ms (1.61 and 2.12) with the check first; its self-check phase fell from 27.6 ms to 0.4 ms. It was "
    "switched off, and then taken out (commit 211e819): under qemu-user, which runs the 32-bit installer on hosts "
    "without 32-bit code, its two busy threads crashed or hung the emulated Wine, also with the file and CNG opened "
    "before the thread started, so the 32-bit installer could not be shown to run it.",
    "",
    "Until commit dca90a5 every run also hashed the data it wrote (28 MB) for the uninstall entry's "
    "`LexomirUpdateSha256`; the build now records that digest beside the data, under the self-check's seal. "
    "With the check first and that second hash gone, commit 5061c21 gave 137.4 ms against 98.2 ms for the "
    "durable floor (**1.40**, missed) and 81.7 ms for the floor (1.68): its self-check took 23.2 ms and its "
    "write 33.0 ms.",
    "",
    "Since commit fadf6ea a quiet run writes its data from the self-check's one reading of its own file, "
    "instead of checking first and then writing from the mapped image; the write stage, check included, "
    "takes about what the write alone took before. Tried before it, in a scratch program under wine64: "
    "hashing the own file through a mapping of it was slower than reading it (about 32 against 22 ms for "
    "28 MB), and writing each piece from the mapped image right after hashing it saved nothing; only "
    "writing from the piece just read did.",
    "",
    "Since commit 60d6c0c the floors are laid out as the installer is, and the note gives no verdict on a ratio whose "
    "programs do not map their payload from the file.",
)


def write_history(w):
    w("## History")
    w("")
    for line in HISTORY:
        w(line)
    w("")


def write_note(r, o):
    """The note, section by section, in the order it reads."""
    L = []
    w = L.append
    grown = size_growth.of_results(r) if "inputs" in r else None
    write_opening(w, r, o, grown)
    for section in (write_noise, write_times64, write_phases, write_memory64, write_x86, write_layouts):
        section(w, r)
    write_bytes(w, r, grown)
    write_run_facts(w, r)
    write_history(w)
    write_how_to_run(w)
    with open(o.doc, "w", encoding="utf-8") as out:
        out.write("\n".join(L) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("results")
    ap.add_argument("--doc", required=True)
    ap.add_argument("--chart", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--build-seconds", type=int, default=0)
    ap.add_argument("--total-seconds", type=int, default=0)
    o = ap.parse_args()
    with open(o.results) as f:
        r = json.load(f)
    write_chart(r, o.chart, o.work)
    write_note(r, o)
    print("bench: wrote %s and %s" % (o.doc, o.chart), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
