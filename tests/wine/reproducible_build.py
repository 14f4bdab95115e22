#!/usr/bin/env python3
"""Two builds of one source, payload and options give the same installer,
byte for byte, so anyone can check a published installer against the
source.

  reproducible_build.py --source DIR [--keep DIR]

The checked-out files are copied into two source folders of different
names, and the 32-bit installer is built from each into a build folder of
its own, from scratch: the second with the clock moved 397 days on
(libfaketime), in another time zone and locale. The two files must be
equal; any difference is reported by place (the header's link time stamp,
the seal, a section). Neither file may hold the name of a source or build
folder. The first is then checked by check_image.py against the options
it was built with, which carry a quote, a backslash and Cyrillic into the
version resource.

The payload is 300,001 bytes, not the 28 MB sample: the payload goes into
the image as it is, so its size changes no step that could differ between
builds (the resource move and the seal depend only on the layout), and the
two builds, compile time apart, take seconds instead of a minute more.

Python standard library, git, cmake, ninja, the MinGW toolchain, faketime.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import check_image
from winepe.pe import PeImage

VERSION = "4242"
COMPANY = 'ООО "Лексомир\\Тест"'
COPYRIGHT = "© 2026 Lexomir"
CLOCK_MOVED = "+397d"


def copy_sources(source, target):
    """The files git knows and the new ones it does not ignore, as a clone
    or a working copy holds them."""
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, stdout=subprocess.PIPE).stdout.split(b"\0")
    for name in filter(None, (n.decode() for n in listed)):
        if os.path.isfile(os.path.join(source, name)):
            os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
            shutil.copy2(os.path.join(source, name), os.path.join(target, name))


def build(source, binary, payload, env, log, prefix=()):
    options = ["-DCMAKE_TOOLCHAIN_FILE=%s/cmake/mingw-i686.cmake" % source, "-DCMAKE_BUILD_TYPE=MinSizeRel",
               "-DLEXOMIR_PAYLOAD=" + payload, "-DLEXOMIR_PACKAGE_VERSION=" + VERSION,
               "-DLEXOMIR_COMPANY_NAME=" + COMPANY, "-DLEXOMIR_COPYRIGHT=" + COPYRIGHT]
    started = time.time()
    with open(log, "w") as out:
        for command in (["cmake", "-S", source, "-B", binary, "-G", "Ninja", *options],
                        ["cmake", "--build", binary, "-j2", "--target", "LexomirUpdate"]):
            command = [*prefix, *command]
            if subprocess.run(command, env=env, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
                out.flush()
                with open(log) as f:
                    sys.stdout.write(f.read()[-4000:])
                raise SystemExit("FAIL the build in %s failed: %s" % (binary, " ".join(command)))
    return os.path.join(binary, "LexomirUpdate.exe"), time.time() - started


def places(pe):
    """(start, end, name) of the parts a difference is reported by."""
    found = [(pe.pe_offset + 8, pe.pe_offset + 12, "the header's link time stamp (TimeDateStamp)"),
             (pe.checksum_offset, pe.checksum_offset + 4, "the header checksum")]
    for (kind, name, _), (off, size) in pe.resource_places().items():
        found.append((off, off + size, "resource %s/%s" % (kind, name)))
    for s in pe.sections:
        found.append((s["rawptr"], s["rawptr"] + s["rawsize"], "section %s" % s["name"]))
    found.append((0, pe.sections[0]["rawptr"] if pe.sections else 0, "the headers"))
    return found


def describe(a, b):
    """Where the two files differ, by part."""
    if len(a) != len(b):
        return ["the sizes differ: %d and %d bytes" % (len(a), len(b))]
    offsets = [i for i in range(len(a)) if a[i] != b[i]]
    pe = PeImage(a)
    lines = []
    for start, end, name in places(pe):
        inside = [i for i in offsets if start <= i < end]
        if inside:
            lines.append("%d byte(s) in %s, first at 0x%x" % (len(inside), name, inside[0]))
            offsets = [i for i in offsets if not start <= i < end]
    stamp_a, stamp_b = (struct.unpack_from("<I", x, pe.pe_offset + 8)[0] for x in (a, b))
    if stamp_a != stamp_b:
        lines.append("time stamps: %s and %s" % (time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(stamp_a)),
                                                 time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(stamp_b))))
    if offsets:
        lines.append("%d byte(s) elsewhere, first at 0x%x" % (len(offsets), offsets[0]))
    return lines


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--source", required=True, help="the checkout to build")
    ap.add_argument("--keep", help="build here and keep the folders (default: a temporary folder, removed)")
    opts = ap.parse_args()
    if not shutil.which("faketime"):
        print("FAIL faketime not found (bash scripts/setup.sh installs it)")
        return 1
    work = os.path.abspath(opts.keep) if opts.keep else tempfile.mkdtemp(prefix="lexomir-twins-")
    os.makedirs(work, exist_ok=True)
    try:
        payload = os.path.join(work, "payload.cok")
        payload_bytes = os.urandom(300001)
        with open(payload, "wb") as f:
            f.write(payload_bytes)
        first_source, second_source = os.path.join(work, "src"), os.path.join(work, "another source folder")
        first_build = os.path.join(first_source, "build", "windows")
        second_build = os.path.join(work, "b")
        for folder in (first_source, second_source):
            copy_sources(opts.source, folder)

        env = dict(os.environ)
        later = ["faketime", "-f", CLOCK_MOVED]
        moved = dict(env, TZ="Asia/Vladivostok", LC_ALL="ru_RU.UTF-8")
        year_now = time.gmtime().tm_year
        year_moved = int(subprocess.run(later + ["date", "-u", "+%Y"], env=moved, check=True,
                                        stdout=subprocess.PIPE, text=True).stdout)
        first, took_first = build(first_source, first_build, payload, env, os.path.join(work, "first.log"))
        print("first build: %s, %.0f s" % (first, took_first), flush=True)
        second, took_second = build(second_source, second_build, payload, moved, os.path.join(work, "second.log"),
                                    later)
        print("second build: %s, %.0f s, under faketime %s (the year %d, not %d), TZ %s, LC_ALL %s"
              % (second, took_second, CLOCK_MOVED, year_moved, year_now, moved["TZ"], moved["LC_ALL"]), flush=True)
        if year_moved == year_now:
            print("FAIL faketime did not move the clock")
            return 1

        with open(first, "rb") as f:
            a = f.read()
        with open(second, "rb") as f:
            b = f.read()
        failed = 0
        if a == b:
            print("ok   the two installers are equal, %d bytes, SHA-256 %s" % (len(a), hashlib.sha256(a).hexdigest()))
        else:
            failed += 1
            print("FAIL the two installers differ:")
            for line in describe(a, b):
                print("     " + line)
        named = []
        for folder in (first_source, second_source, first_build, second_build, work):
            for image, name in ((a, "first"), (b, "second")):
                for form in (folder.encode(), folder.encode("utf-16-le")):
                    if form in image:
                        named.append("the %s installer holds the folder name %s at 0x%x"
                                     % (name, folder, image.find(form)))
        for line in named or ["neither holds the name of a source or build folder"]:
            print("%s %s" % ("FAIL" if named else "ok  ", line))
        failed += len(named)
        checks = check_image.check(a, payload_bytes, {"version": int(VERSION), "company": COMPANY,
                                                      "copyright": COPYRIGHT})
        for ok, message in checks:
            if not ok or "version table" in message:
                print("%s %s" % ("ok  " if ok else "FAIL", message))
        failed += sum(1 for ok, _ in checks if not ok)
        print("%s: the builds took %.0f and %.0f s" % ("FAILED" if failed else "passed", took_first, took_second))
        return 1 if failed else 0
    finally:
        if not opts.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
