#!/usr/bin/env python3
"""Does this host run 32-bit x86 programs, and how?

Prints one word:
  native    the kernel runs i386 programs itself;
  emulated  they run, but through an interpreter registered with binfmt_misc
            (qemu-user): correct, about a hundred times slower;
  none      they do not run at all ("Exec format error").

It runs a tiny static i386 program made here from bytes (it needs no
compiler) that waits for end of input, and reads the running process's
/proc/PID/exe: the kernel names the program itself when it runs it, and the
interpreter when binfmt_misc handed it on.

LEXOMIR_HOST32=native|emulated|none forces the answer, to try what the
other kind of host does. With --explain a second line says why.

  python3 -m winepe.host32 [--explain]   (from the repository's root)
"""
import errno
import os
import stat
import struct
import subprocess
import sys
import tempfile

KINDS = ("native", "emulated", "none")

# _start: sub esp,4; loop: read(0, esp, 1); test eax,eax; jg loop; exit(0)
CODE = bytes.fromhex(
    "83ec04"            # sub  esp, 4
    "b803000000"        # mov  eax, 3 (read)
    "31db"              # xor  ebx, ebx
    "89e1"              # mov  ecx, esp
    "ba01000000"        # mov  edx, 1
    "cd80"              # int  0x80
    "85c0"              # test eax, eax
    "7fec"              # jg   back to mov eax, 3
    "b801000000"        # mov  eax, 1 (exit)
    "31db"              # xor  ebx, ebx
    "cd80")             # int  0x80
BASE = 0x08048000


def elf32_program():
    """A whole ELF32 i386 executable: header, one PT_LOAD, the code."""
    ehsize, phsize = 52, 32
    entry = BASE + ehsize + phsize
    size = ehsize + phsize + len(CODE)
    header = struct.pack("<16sHHIIIIIHHHHHH",
                         b"\x7fELF\x01\x01\x01" + bytes(9),
                         2, 3, 1, entry, ehsize, 0, 0,
                         ehsize, phsize, 1, 0, 0, 0)
    program = struct.pack("<IIIIIIII", 1, 0, BASE, BASE, size, size, 5, 0x1000)
    return header + program + CODE


def probe():
    """Returns (kind, reason) for this host, running the i386 program."""
    forced = os.environ.get("LEXOMIR_HOST32", "")
    if forced:
        if forced not in KINDS:
            raise SystemExit("LEXOMIR_HOST32 must be one of %s, not %r" % (", ".join(KINDS), forced))
        return forced, "forced by LEXOMIR_HOST32"
    with tempfile.TemporaryDirectory(prefix="lexomir-host32-") as tmp:
        path = os.path.join(tmp, "probe32")
        with open(path, "wb") as f:
            f.write(elf32_program())
        os.chmod(path, stat.S_IRWXU)
        try:
            proc = subprocess.Popen([path], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except OSError as e:
            if e.errno == errno.ENOEXEC:
                return "none", "the kernel refuses i386 programs (Exec format error)"
            raise SystemExit("host32: cannot run %s: %s (is %s mounted noexec?)" % (path, e, tmp))
        try:
            exe = os.readlink("/proc/%d/exe" % proc.pid)
        finally:
            proc.stdin.close()
            code = proc.wait(timeout=600)
        if code != 0:
            return "none", "the i386 program ran but ended with %d" % code
        if os.path.realpath(exe) == os.path.realpath(path):
            return "native", "the kernel runs i386 programs itself"
        return "emulated", "i386 programs run through %s" % exe


def main():
    kind, reason = probe()
    print(kind)
    if "--explain" in sys.argv[1:]:
        print(reason)


if __name__ == "__main__":
    main()
