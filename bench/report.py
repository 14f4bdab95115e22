"""The benchmark's report: the note (docs/BENCHMARKS.md) and the chart
written from the figures bench.py measured, and what the executable's
headers and link map say about where its bytes go (lean.py uses those too).

Python standard library only.
"""
import os
import re
import struct
import subprocess

from common import APP_DIR, PRIVATE_ALLOWANCE, SIZE_LIMIT, TREE, UNINSTALL_KEY  # noqa: E402


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
        out.append({"name": name.rstrip(b"\0").decode("latin-1"), "vsize": vsize, "rawsize": rawsize,
                    "rawptr": rawptr})
    return out


def map_entries(path):
    """(output section, bytes, input file) of each input section of a GNU ld
    map file; a long input-section name puts the figures on the next line."""
    section = None
    pending = None
    entry = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$")
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
            yield section, int(m.group(3), 16), m.group(4)


def map_member(path, member, section):
    """Bytes of one output section that come from one archive member."""
    return sum(size for where, size, src in map_entries(path) if where == section and src.endswith("(%s)" % member))


def map_breakdown(path):
    """Bytes of .text, .rdata, .data and .eh_frame by where they come from,
    read from a GNU ld map file."""
    groups = {}
    for section, size, src in map_entries(path):
        if size == 0 or section not in (".text", ".rdata", ".data", ".eh_frame"):
            continue
        if "liblexomir_product.a" in src or "installer_map.dir" in src:
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
                                  ("installer,\\n4 KiB file alignment", "installer_aligned", 1),
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
            ("installer, every section at 4 KiB in the file (experiment)", "installer_aligned"),
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
                       ("installer, every section at 4 KiB (experiment)", "installer_aligned"),
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
    w("resources and seal), `write_steps.c`, `hashspeed.cpp`, `foldersize.cpp`, `noop.c` and `noop_dlls.c`;")
    w("the programs that use the installer's code link the `windows` build's own product library. `bench.py` drives them and keeps every run's figures in")
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
    w("**The hash**: SHA-256 of the installer's own file, already in memory (`bench/hashspeed.cpp`, %d"
      % hs["bcrypt"]["ms"]["n"])
    w("rounds in one process):")
    w("")
    w("| method | median ms | min | max | MiB/s (median) |")
    w("|---|---:|---:|---:|---:|")
    names = {"read": "`ReadFile` in 1 MiB pieces, no hashing", "bcrypt": "CNG `BCryptHashData`, as the installer",
             "capi": "CryptoAPI `CALG_SHA_256`", "shani": "the installer's `Sha256` on the processor's SHA extensions"}
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
                           ("installer_aligned", "every section at 4 KiB (`-Wl,--file-alignment,0x1000`)")):
            if key in t:
                m = t[key]["median"]
                w("| %s | %s | %.2f | %.2f |" % (label, ms_cell(t[key]), m / nsis, m / floor))
        w("")
        w("- Every section at 4 KiB in the file, not only the resources (`cmake/windows.cmake`), lets Wine map")
        w("  the small sections too: %.1f ms and %s MB of private bytes, at %d bytes of file size"
          % (t["installer_aligned"]["median"], mb(mem["installer_aligned"]["peak_private"]["median"]),
             ex["installer_aligned"]))
        w("  less the payload (against %d), %s." % (r["sizes"]["installer"],
          "within the size limit" if ex["installer_aligned"] <= SIZE_LIMIT else "over the size limit"))
        best = min((k for k in ("installer", "installer_aligned")
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
        w("**Peak private bytes.** Over the limit by %d bytes; the resources at a page in the file remove Wine's"
          % (mem["installer"]["peak_private"]["median"] - 2 * b.payload_size - PRIVATE_ALLOWANCE))
        w("private copy of the image.")
        w("")
    if "folder" in missed:
        w("**FolderSizeKb.** Slower than `dir /s` here; see the table above.")
        w("")
