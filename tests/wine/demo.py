#!/usr/bin/env python3
"""The demonstration: the real LexomirUpdate.exe under Wine, updating a
demonstration installation while the (stand-in) application runs, quietly
and with a restart, as another program would call it. Prints what happened
and how long each phase took.

  demo.py BUILD_DIR
"""
import json
import os
import sys
import tempfile
import time
import types

import run_scenarios as rs
from scenarios import SCENARIOS
from winepe import wine
from winepe.digest import sha256_file

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "windows"))
    workdir = tempfile.mkdtemp(prefix="lexomir-demo-")
    # Always the real 32-bit installer. Where the host cannot run 32-bit
    # code natively it runs emulated, and only it: the helpers are the
    # 64-bit ones the build made for that case.
    native = wine.host_kind() == "native"
    helpers = os.path.join(build, "tests", "wine") if native else os.path.join(build, "helpers64")
    opts = types.SimpleNamespace(
        installer=os.path.join(build, "LexomirUpdate.exe"),
        standin=os.path.join(helpers, "standin_app.exe"),
        boxdriver=os.path.join(helpers, "boxdriver.exe"),
        payload=os.path.join(build, "payload", "lxn.cok"),
        timeout=60 if native else 600, in_xvfb=False, verbose=False, keep=False, dpi=None,
        artifacts=os.path.join(workdir, "artifacts"))
    for name in ("installer", "standin", "boxdriver", "payload"):
        if not os.path.isfile(getattr(opts, name)):
            raise SystemExit("missing %s: %s (build the windows preset first)" % (name, getattr(opts, name)))
    if wine.host_kind() == "none":
        raise SystemExit("this host runs no 32-bit programs and has no emulator registered for them: "
                         "run bash scripts/setup.sh, which registers qemu-user")
    how = wine.how(opts.installer)
    print("LexomirUpdate.exe runs here as: " + how)
    if not native:
        print("This host cannot run 32-bit code natively: the installer runs emulated by qemu-user, "
              "about a hundred times slower than on Windows (a few minutes in all).", flush=True)
    scenario = next(s for s in SCENARIOS if s.name == "quiet_runapp_running")
    runner = rs.Runner(opts, workdir)
    phases = []

    t = time.time()
    env, note = rs.ensure_locales(workdir)
    runner.wine.env.update(env)
    runner.wine.create_prefix()
    phases.append(("Wine prefix (win64, Windows 10, null display)", time.time() - t))
    print("Wine prefix ready in %.0f s; running the installer" % phases[-1][1], flush=True)

    t = time.time()
    failures, detail, installer_seconds = runner.run_scenario(scenario)
    phases.append(("demonstration installation, application started, installer run", time.time() - t))
    phases.append(("  of which the installer, start to exit", installer_seconds))
    runner.wine.stop()

    records = []
    record = os.path.join(opts.artifacts, "boxes-%s.jsonl" % scenario.name)
    if os.path.exists(record):
        with open(record, encoding="ascii") as f:
            records = [json.loads(line) for line in f if line.strip()]
    boxes = [r for r in records if r["event"] == "box"]
    end = next((r for r in records if r["event"] == "exit"), None)
    data = os.path.join(runner.app_dir, "lxn.cok")

    print()
    print("LexomirUpdate.exe modest runapp, with Lexomir running (stand-in application)")
    print("  installer:      %s (%d bytes)" % (opts.installer, os.path.getsize(opts.installer)))
    print("  ran as:         %s" % how)
    print("  exit code:      %s" % (end["code"] if end else "none recorded"))
    print("  boxes shown:    %d" % len(boxes))
    for b in boxes:
        print("    %s: %s" % (bytes.fromhex(b["caption_hex"]).decode("cp1251"),
                              bytes.fromhex(b["text_hex"]).decode("cp1251").replace("\r\n", " / ")))
    if os.path.isfile(data):
        digest = sha256_file(data)
        print("  data file:      C:\\Program Files (x86)\\Lexomir\\lxn.cok, %d bytes, SHA-256 %s"
              % (os.path.getsize(data), digest))
        print("                  %s the payload" % ("equals" if digest == runner.payload_sha else "DIFFERS FROM"))
    else:
        print("  data file:      not written")
    sizes = {v: runner.query_value("EstimatedSize", "/reg:" + v) for v in ("64", "32")}
    runner.wine.stop()
    for view, value in sizes.items():
        if value is not None:
            print("  EstimatedSize:  %d KiB (%s-bit registry view; the folder holds %d KiB)"
                  % (value, view, rs.folder_size_kib(runner.app_dir)))
    log = os.path.join(opts.artifacts, "standin-%s.log" % scenario.name)
    print("  application:")
    if os.path.exists(log):
        with open(log, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                pid, ms, event = (line.split(" ", 3) + ["", ""])[:3]
                rest = line.split(" ", 3)[3] if len(line.split(" ", 3)) > 3 else ""
                print("    process %-6s %-12s %s" % (pid, event, rest))
    print("  phases:")
    for name, seconds in phases:
        print("    %-66s %6.1f s" % (name, seconds))
    if failures:
        print("\nThe demonstration did not go as expected:")
        for f in failures:
            print("  " + f.replace("\n", "\n  "))
        return 1
    print("\nAll as expected.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
