"""How this host runs Windows programs under Wine, for the tests, the
benchmark and the scripts.

Some hosts run 32-bit x86 code natively, others not at all, and on those
qemu-user may be registered to run it emulated, about a hundred times
slower (host32.py tells which). Wine's 64-bit loader always runs
natively, so:
- Wine's own tools (wineboot, reg, winecfg) run through the 64-bit loader
  in the win64 prefixes the tests use;
- each program starts through the loader of its own machine type: a 64-bit
  program (the x86-64 test build and its helpers) through wine64, a 32-bit
  one through Wine's 32-bit loader, native or emulated;
- a new win64 prefix is a copy of a template made once per Wine version in
  build/wine-template: where the 32-bit half of the prefix runs emulated,
  making one takes minutes, copying it seconds.

Python standard library only.
"""
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile

from . import host32
from .pe import IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_I386, PeImage

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "wine"
SKIP_CODE = 77          # CTest's SKIP_RETURN_CODE for these tests

_kind = None


def host_kind():
    """native, emulated or none: how 32-bit programs run here (probed once)."""
    global _kind
    if _kind is None:
        _kind = host32.probe()[0]
    return _kind


def pe_machine(path):
    """'x86' or 'x64' from a PE file's header (its first page holds it)."""
    machine = PeImage.of_file(path, headers_only=True).machine
    return {IMAGE_FILE_MACHINE_I386: "x86", IMAGE_FILE_MACHINE_AMD64: "x64"}.get(machine, "machine 0x%x" % machine)


def loader(path):
    """The Wine loader that starts this program."""
    return WINE64 if pe_machine(path) == "x64" else WINE32


def how(path):
    """How a program runs here, in words, for the test output."""
    machine = pe_machine(path)
    if machine == "x64":
        return "64-bit, wine64, native speed"
    return {"native": "32-bit, Wine's 32-bit loader, native",
            "emulated": "32-bit, Wine's 32-bit loader emulated by qemu-user (slow)",
            "none": "32-bit, cannot run on this host"}[host_kind()]


def runs_natively(path):
    return pe_machine(path) == "x64" or host_kind() == "native"


def runs_at_all(path):
    return pe_machine(path) == "x64" or host_kind() != "none"


def skip(reason):
    """Reports a test as skipped to CTest (SKIP_RETURN_CODE), with the reason."""
    print("SKIPPED: " + reason, flush=True)
    sys.exit(SKIP_CODE)


def win_path(unix_path):
    """The Z: drive of a Wine prefix maps the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def base_env(prefix, arch="win64"):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH=arch, WINEDEBUG="-all")
    env.pop("WINELOADER", None)
    return env


def tool(name, arch="win64"):
    """Command that runs one of Wine's own programs (reg, wineboot, ...)."""
    return [WINE64 if arch == "win64" else WINE32, name]


def run_logged(args, env, timeout):
    """Runs a command to its end, its output (stderr too) in a temporary file,
    never a pipe: the wineserver and the programs started inside Wine (an
    application the installer starts) inherit the handles and would keep a
    pipe open long after the command ended. The output is in .stdout."""
    with tempfile.TemporaryFile() as out:
        p = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                           timeout=timeout)
        out.seek(0)
        p.stdout = out.read().decode("utf-8", errors="replace")
    return p


def signal_programs(prefix, program, signum):
    """Sends a Unix signal to every process of PROGRAM (such as explorer.exe)
    running in PREFIX, and no other prefix's; returns their process ids."""
    mark = b"WINEPREFIX=" + os.path.abspath(prefix).encode()
    hit = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as c, open("/proc/%s/environ" % pid, "rb") as e:
                if program.lower().encode() in c.read().lower() and mark in e.read().split(b"\0"):
                    os.kill(int(pid), signum)
                    hit.append(int(pid))
        except OSError:
            continue
    return hit


LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\S+ Loaded L"([^"]*)"', re.M)


def loaded_libraries(trace):
    """{process id: the file names it loaded, lower case, in order} from the
    loader's trace (WINEDEBUG=+pid,+loaddll); a process's own executable
    comes first."""
    by_process = {}
    for pid, path in LOADED.findall(trace):
        by_process.setdefault(pid, []).append(path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower())
    return by_process


def wine_version():
    out = subprocess.run([WINE64, "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    return out.replace(" ", "_").replace("(", "").replace(")", "").replace("/", "_") or "unknown"


def boot(prefix, arch="win64", timeout=900):
    """A fresh prefix made by wineboot, its wineserver ended."""
    env = base_env(prefix, arch)
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(tool("wineboot", arch) + ["-i"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout, check=True)
    subprocess.run(["wineserver", "-w"], env=env, timeout=300)


def template_dir():
    return os.environ.get("LEXOMIR_WINE_TEMPLATE") or os.path.join(ROOT, "build", "wine-template", wine_version())


def new_prefix(prefix):
    """A fresh win64 prefix at PREFIX: a copy of the template, which is made
    first when there is none (once; other runs wait for it)."""
    template = template_dir()
    os.makedirs(os.path.dirname(template), exist_ok=True)
    with open(template + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.isdir(template):
            making = tempfile.mkdtemp(prefix=".making-", dir=os.path.dirname(template))
            boot(os.path.join(making, "prefix"))
            os.rename(os.path.join(making, "prefix"), template)
            shutil.rmtree(making, ignore_errors=True)
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    subprocess.run(["cp", "-a", template, prefix], check=True)
