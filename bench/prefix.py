"""The benchmark's Wine prefix: a win64 prefix with Lexomir installed the
demonstration way (its folder with Lexomir.exe, an uninstaller and an older
data file; the uninstall entry in the 64-bit view), one wineserver kept for
every run, and the programs in C:\\bench.

Every program starts through the 64-bit launcher (bench/launcher.c) under
wine64, whatever its own machine type: a 64-bit program runs natively on
every host, a 32-bit one through Wine's 32-bit loader, which only a host
that runs 32-bit code natively should be asked to time.

Python standard library only.
"""
import os
import shutil
import time

from common import BENCH_DIR, BENCH_DIR_IN_PREFIX, BenchFailed, parse_pairs
from winepe import wine
from winepe.digest import sha256_file
from winepe.installation import (APP_DIR, APP_DIR_IN_PREFIX, OLD_DATA, UNINSTALL_KEY,
                                 UNINSTALLER_BYTES)

LAUNCH_FAILED = 101  # bench/launcher.c: CreateProcess failed, the program never ran


class Prefix:
    def __init__(self, work, standin, programs):
        self.path = os.path.join(work, "prefix")
        wine.new_prefix(self.path)
        self.env = wine.base_env(self.path)
        reg = wine.tool("reg")
        self.run(reg + ["add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"])
        self.app_dir = os.path.join(self.path, *APP_DIR_IN_PREFIX)
        os.makedirs(self.app_dir, exist_ok=True)
        shutil.copyfile(standin, os.path.join(self.app_dir, "Lexomir.exe"))
        with open(os.path.join(self.app_dir, "unins000.exe"), "wb") as f:
            f.write(UNINSTALLER_BYTES)
        self.run(reg + ["add", "HKLM\\" + UNINSTALL_KEY, "/v", "UninstallString", "/t", "REG_SZ", "/d",
                        APP_DIR + "unins000.exe", "/f", "/reg:64"])
        bench = os.path.join(self.path, *BENCH_DIR_IN_PREFIX)
        os.makedirs(bench, exist_ok=True)
        for name, path in programs.items():
            shutil.copyfile(path, os.path.join(bench, name))
        self.run(["wineserver", "-w"], check=False)
        self.run(["wineserver", "-p"], check=False)  # one warm server for every run
        # The size an installer must store: the folder after the update.
        self.folder_bytes = os.path.getsize(standin) + len(UNINSTALLER_BYTES)

    def run(self, args, env=None, check=True):
        e = dict(self.env)
        e.update(env or {})
        p = wine.run_logged(args, e, 600)
        if check and p.returncode != 0:
            raise BenchFailed("failed (%d): %s\n%s" % (p.returncode, " ".join(args), p.stdout[-3000:]))
        return p.returncode, p.stdout

    def reset(self):
        """An older data file and nothing of an earlier run: no temporary
        file, nothing left to write back to the disk."""
        for name in ("lxn.cok", "~lxn.cok"):
            if os.path.exists(os.path.join(self.app_dir, name)):
                os.remove(os.path.join(self.app_dir, name))
        with open(os.path.join(self.app_dir, "lxn.cok"), "wb") as f:
            f.write(OLD_DATA)
        os.sync()
        time.sleep(0.1)

    def launch(self, program, args, poll=0, env=None, size_value=False):
        """One run of C:\\bench\\PROGRAM through the launcher: its figures
        (bench/launcher.c), and with size_value EstimatedSize deleted before
        and read after (dword)."""
        cmd = [wine.WINE64, BENCH_DIR + "launcher.exe"]
        if poll:
            cmd += ["--poll", str(poll)]
        if size_value:
            cmd += ["--delete-value", UNINSTALL_KEY, "EstimatedSize", "--query-dword", UNINSTALL_KEY, "EstimatedSize"]
        # Wine's CreateProcess fails now and then on a loaded host (error 1359):
        # the launcher then ends with 101 before the program ran, so nothing
        # was measured or changed, and the run is made again.
        for _ in range(3):
            code, out = self.run(cmd + ["--", BENCH_DIR + program] + list(args), env=env, check=False)
            if code != LAUNCH_FAILED:
                break
        if code != 0:
            raise BenchFailed("failed (%d): %s %s\n%s" % (code, " ".join(cmd), program, out[-3000:]))
        line = next((l for l in out.splitlines() if l.startswith("exit=")), None)
        if line is None:
            raise BenchFailed("the launcher printed no result for %s:\n%s" % (program, out[-3000:]))
        r = parse_pairs(line)
        r["output"] = out
        return r

    def direct(self, program, args):
        """The output of C:\\bench\\PROGRAM run without the launcher."""
        return self.run([wine.WINE64, BENCH_DIR + program] + list(args))[1]

    def check_data(self, label, size, sha):
        p = os.path.join(self.app_dir, "lxn.cok")
        if not os.path.exists(p) or os.path.getsize(p) != size or sha256_file(p) != sha:
            raise BenchFailed("%s: lxn.cok is not the payload after the run" % label)
        if os.path.exists(os.path.join(self.app_dir, "~lxn.cok")):
            raise BenchFailed("%s: the temporary file was left behind" % label)

    def stop(self):
        self.run(["wineserver", "-k"], check=False)
