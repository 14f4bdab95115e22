#!/usr/bin/env python3
"""Checks under Wine what the installer learns about the system at start-up.

One fresh prefix per run, of the given architecture. A win64 prefix is set
to Windows 10 first (`winecfg -v win10`); a win32 prefix keeps its default.

  osinfo_wine.py --probe EXE --canary EXE --installer EXE --arch win64|win32

1. The probe (built from the installer's sources) prints the OS description
   in both forms, Is64BitOs and the shared registry accessor's access mask:
   a 64-bit Windows 10 and true / 0xF013F in win64, a 32-bit Windows and
   false / 0xF003F in win32.
2. ComSpec names a canary program called cmd.exe, and another copy sits in
   the current folder as cmd.exe: neither may ever run, while "ver" still
   gives the system interpreter's output. The canary is first run once
   directly, to show that it does record being run.
3. The installer runs quietly ("modest") against an application whose
   uninstall entry exists only in the registry view the installer must use
   (the 64-bit view in win64): it installs the data file into that
   application's folder and writes EstimatedSize into that entry.

Python standard library only. Exit code 0 when every check holds.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from winepe import wine

UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexomir"
APP_DIR = "C:\\Lexomir\\"
APP_DIR_IN_PREFIX = ("drive_c", "Lexomir")
WORK_DIR_IN_PREFIX = ("drive_c", "lexotest")
CANARY_DIR_IN_PREFIX = ("drive_c", "users", "Public", "canary")
CANARY_PATH = "C:\\users\\Public\\canary\\cmd.exe"


class Run:
    def __init__(self, arch, workdir):
        self.arch = arch
        self.prefix = os.path.join(workdir, "prefix")
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ComSpec", "COMSPEC"):
            self.env.pop(name, None)  # no display: a box returns at once instead of waiting
        self.env.update(WINEPREFIX=self.prefix, WINEARCH=arch, WINEDEBUG="-all")
        self.failures = []

    def wine(self, loader, *args, cwd=None, timeout=120):
        result = subprocess.run([loader, *args], cwd=cwd, env=self.env, capture_output=True, timeout=timeout)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)
        return result

    def tool(self, *args):
        """One of Wine's own programs (reg, winecfg)."""
        return self.wine(*wine.tool(args[0], self.arch), *args[1:])

    def start(self, program, *args, cwd=None, timeout=120):
        """PROGRAM (a Unix path, for its machine type) started as ARGS[0]."""
        return self.wine(wine.loader(program), *args, cwd=cwd, timeout=timeout)

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def check(self, condition, what):
        print(("ok    " if condition else "FAIL  ") + what)
        if not condition:
            self.failures.append(what)

    def make_prefix(self):
        if self.arch == "win64":
            wine.new_prefix(self.prefix)
            self.tool("winecfg", "-v", "win10")
        else:
            wine.boot(self.prefix, "win32")

    def reg(self, *args):
        view = ["/reg:64"] if self.arch == "win64" else []
        return self.tool("reg", *args, *view)

    def reg_value(self, key, name, view):
        result = self.tool("reg", "query", key, "/v", name, *view)
        if result.returncode != 0:
            return None
        for line in result.stdout.decode("latin-1").splitlines():
            fields = line.split(None, 2)
            if len(fields) == 3 and fields[0] == name:
                return fields[1], fields[2].strip()
        return None


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            code = text[i + 1]
            if code == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
            out.append({"r": "\r", "n": "\n"}.get(code, code))
            i += 2
            continue
        out.append(text[i])
        i += 1
    return "".join(out)


def parse(output):
    """The probe's "key: value" lines, values unescaped."""
    values = {}
    for line in output.decode("latin-1").splitlines():
        key, sep, value = line.partition(": ")
        if sep:
            values[key] = unescape(value)
    return values


def canary_logs(run):
    return [os.path.join(d, "canary.log") for d in (run.path(*CANARY_DIR_IN_PREFIX), run.path(*WORK_DIR_IN_PREFIX))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--probe", required=True)
    parser.add_argument("--canary", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--arch", choices=("win64", "win32"), required=True)
    parser.add_argument("--keep", action="store_true", help="keep the prefix and print where it is")
    args = parser.parse_args()

    programs = (args.probe, args.canary, args.installer)
    for program in programs:
        print("%s: %s" % (os.path.basename(program), wine.how(program)))
    if args.arch == "win32" and wine.host_kind() != "native":
        wine.skip("a 32-bit Wine prefix runs only where the host runs 32-bit code natively "
                  "(this host: %s)" % wine.host_kind())
    if not all(wine.runs_natively(p) for p in programs):
        wine.skip("this host runs no 32-bit code natively (%s); the 64-bit test build runs these checks "
                  "(ctest --preset windows64)" % wine.host_kind())
    if args.arch == "win32" and any(wine.pe_machine(p) == "x64" for p in programs):
        wine.skip("64-bit programs do not run in a 32-bit prefix")

    workdir = tempfile.mkdtemp(prefix="lexomir-osinfo-")
    run = Run(args.arch, workdir)
    try:
        run.make_prefix()
        work = run.path(*WORK_DIR_IN_PREFIX)
        canary_dir = run.path(*CANARY_DIR_IN_PREFIX)
        os.makedirs(work)
        os.makedirs(canary_dir, exist_ok=True)
        shutil.copy(args.probe, os.path.join(work, "osinfo_probe.exe"))
        shutil.copy(args.installer, os.path.join(work, "LexomirUpdate.exe"))
        shutil.copy(args.canary, os.path.join(canary_dir, "cmd.exe"))
        shutil.copy(args.canary, os.path.join(work, "cmd.exe"))

        # The canary records being run; otherwise its silence would prove nothing.
        run.start(args.canary, CANARY_PATH, "control", cwd=work)
        log = canary_logs(run)[0]
        run.check(os.path.exists(log) and b"control" in open(log, "rb").read(),
                  "the canary records being run")
        for log in canary_logs(run):
            if os.path.exists(log):
                os.remove(log)

        # The user's own environment, which any of the user's processes may
        # change, names the canary as the command interpreter.
        run.tool("reg", "add", "HKCU\\Environment", "/v", "ComSpec", "/d", CANARY_PATH, "/f")
        probe = run.start(args.probe, "C:\\lexotest\\osinfo_probe.exe", cwd=work)
        values = parse(probe.stdout)
        print("probe exit code %d" % probe.returncode)
        for key in ("short", "long", "is64", "shared_registry_access", "ver", "comspec"):
            print("  %s: %r" % (key, values.get(key)))
        run.check(probe.returncode == 0, "the probe ran")
        run.check(values.get("comspec", "").lower() == CANARY_PATH.lower(), "ComSpec named the canary in the probe")

        short, long_form = values.get("short", ""), values.get("long", "")
        product = run.reg_value("HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                                ["/reg:64"] if args.arch == "win64" else [])
        product_name = product[1] if product else None
        print("  ProductName in the registry: %s" % product_name)
        if args.arch == "win64":
            run.check(short == "%s 64-bit" % product_name, "short form: ProductName and 64-bit")
            run.check("Windows 10" in short, "short form names Windows 10")
            run.check(values.get("is64") == "true", "Is64BitOs is true")
            run.check(values.get("shared_registry_access") == "0xF013F", "the shared accessor uses the 64-bit view")
        else:
            run.check(short.startswith("%s 32-bit" % product_name), "short form: ProductName and 32-bit")
            run.check(" 64" not in short, "short form has no \" 64\"")
            run.check(values.get("is64") == "false", "Is64BitOs is false")
            run.check(values.get("shared_registry_access") == "0xF003F", "the shared accessor keeps the default view")
        run.check(long_form.startswith(short.split(" Service Pack")[0] + " ") and len(long_form) > len(short),
                  "long form adds the version text")
        run.check("Windows" in values.get("ver", ""), "ver ran in the system interpreter")

        # The installer, quiet, against an entry that only the right view shows.
        os.makedirs(run.path(*APP_DIR_IN_PREFIX))
        with open(os.path.join(run.path(*APP_DIR_IN_PREFIX), "Lexomir.exe"), "wb") as f:
            f.write(b"MZ" + bytes(2046))
        run.reg("add", UNINSTALL, "/v", "UninstallString", "/d", APP_DIR + "unins000.exe", "/f")
        installer = run.start(args.installer, "C:\\lexotest\\LexomirUpdate.exe", "modest", cwd=work, timeout=300)
        print("installer exit code %d" % installer.returncode)
        run.check(installer.returncode == 0, "the installer installed (exit code 0)")
        data = os.path.join(run.path(*APP_DIR_IN_PREFIX), "lxn.cok")
        run.check(os.path.exists(data) and os.path.getsize(data) > 0, "the data file is in the application's folder")
        if args.arch == "win64":
            size64 = run.reg_value(UNINSTALL, "EstimatedSize", ["/reg:64"])
            size32 = run.reg_value(UNINSTALL, "EstimatedSize", ["/reg:32"])
            print("  EstimatedSize 64-bit view: %s, 32-bit view: %s" % (size64, size32))
            run.check(size64 is not None and size64[0] == "REG_DWORD", "EstimatedSize in the 64-bit view")
            run.check(size32 is None, "no EstimatedSize in the 32-bit view")
        else:
            size = run.reg_value(UNINSTALL, "EstimatedSize", [])
            print("  EstimatedSize: %s" % (size,))
            run.check(size is not None and size[0] == "REG_DWORD", "EstimatedSize in the uninstall entry")

        for log in canary_logs(run):
            ran = open(log, "rb").read().decode("latin-1").strip() if os.path.exists(log) else ""
            run.check(not ran, "the canary never ran (%s)%s" % (os.path.basename(os.path.dirname(log)),
                                                                ": " + ran if ran else ""))
    finally:
        subprocess.run(["wineserver", "-k"], env=run.env, timeout=60)
        if args.keep:
            print("prefix kept in %s" % run.prefix)
        else:
            shutil.rmtree(workdir, ignore_errors=True)

    if run.failures:
        print("%d check(s) failed" % len(run.failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
