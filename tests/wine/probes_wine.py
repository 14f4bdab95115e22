#!/usr/bin/env python3
"""Runs probes_probe under Wine, in a prefix of its own.

  probes_wine.py --make-prefix DIR [--dpi N]
                                            a fresh win64 prefix, null graphics driver,
                                            the screen at N dpi (LogPixels; default 96)
  probes_wine.py --prefix DIR [--cwd D] -- PROGRAM ARG...
                                            runs PROGRAM in it; passes when it exits 0
                                            and printed no FAIL line
  probes_wine.py --remove-prefix DIR        ends its wineserver and deletes it

The null graphics driver keeps windows working without any display.
Python standard library only.
"""
import argparse
import os
import shutil
import subprocess
import sys

from winepe import wine


def environment(prefix):
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all")
    return env


def make_prefix(prefix, dpi):
    shutil.rmtree(prefix, ignore_errors=True)
    env = environment(prefix)
    wine.new_prefix(prefix)
    for key, value in (("HKCU\\Software\\Wine\\Drivers", ["/v", "Graphics", "/d", "null"]),
                       ("HKCU\\Control Panel\\Desktop", ["/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi)])):
        subprocess.run(wine.tool("reg") + ["add", key, *value, "/f"], env=env, check=True, capture_output=True,
                       timeout=120)
    subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    return 0


def run(prefix, cwd, command):
    print("%s: %s" % (os.path.basename(command[0]), wine.how(command[0])), flush=True)
    if not wine.runs_natively(command[0]):
        wine.skip("this host runs no 32-bit code natively (%s); the 64-bit test build runs this probe "
                  "(ctest --preset windows64)" % wine.host_kind())
    env = environment(prefix)
    try:
        result = subprocess.run([wine.loader(command[0]), *command], cwd=cwd, env=env, capture_output=True, timeout=120)
    finally:
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    output = result.stdout.decode("cp1251", "replace")
    sys.stdout.write(output)
    lines = output.splitlines()
    passed = result.returncode == 0 and any(l.startswith("ok") for l in lines) and not any(
        l.startswith("FAIL") for l in lines)
    if not passed:
        sys.stdout.write("exit code %d\n" % result.returncode)
        sys.stdout.write(result.stderr.decode("utf-8", "replace")[-2000:])
    return 0 if passed else 1


def remove_prefix(prefix):
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=environment(prefix), timeout=120)
        shutil.rmtree(prefix, ignore_errors=True)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--make-prefix")
    parser.add_argument("--dpi", type=int, default=96)
    parser.add_argument("--remove-prefix")
    parser.add_argument("--prefix")
    parser.add_argument("--cwd")
    parser.add_argument("command", nargs="*")
    args = parser.parse_args()
    if args.make_prefix:
        return make_prefix(args.make_prefix, args.dpi)
    if args.remove_prefix:
        return remove_prefix(args.remove_prefix)
    if args.prefix and args.command:
        if not os.path.isdir(args.prefix):
            print("no prefix at " + args.prefix)
            return 1
        return run(args.prefix, args.cwd, args.command)
    parser.error("nothing to do")
    return 2


if __name__ == "__main__":
    sys.exit(main())
