#!/usr/bin/env python3
"""Runs the real installer under Wine, scenario by scenario, and checks what
a user and the main application would see.

One fresh win64 prefix per run: the stand-in application is installed into
C:\\Program Files (x86)\\Lexomir\\ with its uninstall entry, then each
scenario resets that installation, starts the installer through the box
driver (which records and answers every message box) and checks the exit
code, the boxes (their Unicode text as the user reads it, and the exact
CP1251 bytes where the code page is 1251, in order), the data file, the
EstimatedSize value and the registry view that holds it, and the stand-in's
log.

  run_scenarios.py --installer EXE --standin EXE --boxdriver EXE --payload FILE
                   [--smoke] [NAME ...]

Python standard library only. See --help for the other options.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

# ensure_locales and folder_size_kib are here for demo.py.
from harness import Runner, ensure_locales  # noqa: F401
from scenario_checks import folder_size_kib  # noqa: F401
from scenarios import SCENARIOS, SMOKE
from winepe import wine


def select(opts):
    by_name = {s.name: s for s in SCENARIOS}
    if opts.names:
        unknown = [n for n in opts.names if n not in by_name]
        if unknown:
            raise SystemExit("unknown scenario(s): %s (see --list)" % ", ".join(unknown))
        return [by_name[n] for n in opts.names]
    if opts.smoke:
        return [by_name[n] for n in SMOKE]
    return list(SCENARIOS)


def parser():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("names", nargs="*", help="scenarios to run (default: all)")
    ap.add_argument("--installer", help="LexomirUpdate.exe")
    ap.add_argument("--standin", help="the stand-in application (installed as Lexomir.exe)")
    ap.add_argument("--boxdriver", help="boxdriver.exe")
    ap.add_argument("--payload", help="the data file the installer carries")
    ap.add_argument("--smoke", action="store_true", help="only the smoke set: %s" % ", ".join(SMOKE))
    ap.add_argument("--allow-emulated", action="store_true",
                    help="run a 32-bit installer emulated where the host runs no 32-bit code natively "
                         "(otherwise the run is reported as skipped)")
    ap.add_argument("--list", action="store_true", help="list the scenarios and exit")
    ap.add_argument("--timeout", type=int, help="seconds one installer run may take "
                    "(default 60, 600 when the installer runs emulated)")
    ap.add_argument("--workdir", help="scratch folder (default: a new temporary one)")
    ap.add_argument("--artifacts", help="folder for box records, the libraries the installer loaded, and screenshots")
    ap.add_argument("--keep", action="store_true", help="keep the scratch folder and prefix")
    ap.add_argument("--xvfb", action="store_true",
                    help="use a virtual X server instead of the null driver and take a screenshot of every box")
    ap.add_argument("--in-xvfb", action="store_true", help=argparse.SUPPRESS)
    ap.add_argument("--dpi", type=int, help="the screen's DPI in the prefix (LogPixels; Wine's default is 96)")
    ap.add_argument("-v", "--verbose", action="store_true", help="print every Wine command")
    return ap


def main():
    ap = parser()
    opts = ap.parse_args()

    if opts.list:
        for s in SCENARIOS:
            print("%-30s %s  %s" % (s.name, s.locale, s.note))
        return 0
    for name in ("installer", "standin", "boxdriver", "payload"):
        path = getattr(opts, name)
        if not path or not os.path.isfile(path):
            ap.error("--%s must name an existing file (got %r)" % (name, path))
        setattr(opts, name, os.path.abspath(path))
    scenarios = select(opts)
    if not scenarios:
        print("no scenario selected")
        return 1
    for tool in ("wine", "wineserver", "wineboot", wine.WINE64):
        if not shutil.which(tool):
            print("%s not found: Wine 8 (wine, wine32:i386, wine64) is needed" % tool)
            return 1
    if not wine.runs_natively(opts.installer):
        if not opts.allow_emulated:
            wine.skip("this host runs no 32-bit code natively (%s); the whole table runs on the 64-bit "
                      "test build (ctest --preset windows64) and a smoke set on this executable "
                      "(wine_smoke_emulated)" % wine.host_kind())
        if not wine.runs_at_all(opts.installer):
            wine.skip("this host runs no 32-bit code and has no emulator registered for it "
                      "(bash scripts/setup.sh registers qemu-user)")
    if opts.timeout is None:
        opts.timeout = 60 if wine.runs_natively(opts.installer) else 600

    if opts.xvfb and not opts.in_xvfb:
        for tool in ("xvfb-run", "import"):
            if not shutil.which(tool):
                print("--xvfb needs %s (packages xvfb, imagemagick)" % tool)
                return 1
        argv = [a for a in sys.argv[1:] if a != "--xvfb"]
        return subprocess.call(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24",
                                sys.executable, os.path.abspath(__file__), "--in-xvfb"] + argv)

    workdir = os.path.abspath(opts.workdir) if opts.workdir else tempfile.mkdtemp(prefix="lexomir-wine-")
    os.makedirs(workdir, exist_ok=True)
    runner = Runner(opts, workdir)
    try:
        return runner.run(scenarios)
    finally:
        runner.wine.stop()
        if runner.artifacts and os.path.isdir(runner.artifacts):
            print("box records, logs, loaded libraries and screenshots: %s" % runner.artifacts)
        if opts.keep:
            print("scratch folder kept: %s" % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())