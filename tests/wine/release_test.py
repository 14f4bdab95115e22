#!/usr/bin/env python3
"""scripts/release.sh, end to end and on bad input.

  release_test.py --source DIR --build-dir DIR

Every bad input of the table must be refused with its message (exit 2)
before anything is built: no build folder, no output. Then a release
signed with a throw-away certificate (openssl) must give exactly the
installer, its SHA-256 and the release note, the installer signed with
that certificate, its signature removed giving back the reproducible
build the note names. Last, a step that fails after the build (a time
stamp server that does not answer) must leave no output at all.

Python standard library, openssl, osslsigncode; release.sh needs the
Windows toolchain and Wine.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from winepe.digest import sha256_file
from winepe.pe import DIR_SECURITY, HEADER_PAGE, PeImage

VERSION = "1003"


def bad_inputs(w):
    """(name, arguments, text the refusal must contain); `w` names the files."""
    key = ["--sign", w["pfx"], "--password-file", w["pass"]]
    good = ["--payload", w["payload"], "--version", VERSION]
    return [
        ("no payload", ["--version", VERSION], "--payload FILE is required"),
        ("missing payload", ["--payload", w["missing"], "--version", VERSION], "does not exist"),
        ("empty payload", ["--payload", w["empty"], "--version", VERSION], "is empty"),
        ("payload is a folder", ["--payload", w["dir"], "--version", VERSION], "is not a file"),
        ("no version", ["--payload", w["payload"]], "--version N is required"),
        ("version 0", ["--payload", w["payload"], "--version", "0"], "from 1 to 65535, not '0'"),
        ("version 65536", ["--payload", w["payload"], "--version", "65536"], "not '65536'"),
        ("version 1002x", ["--payload", w["payload"], "--version", "1002x"], "not '1002x'"),
        ("version 0100", ["--payload", w["payload"], "--version", "0100"], "not '0100'"),
        ("version without a value", ["--payload", w["payload"], "--version"], "--version needs a value"),
        ("missing key", good + ["--sign", w["missing"], "--password-file", w["pass"]],
         "the signing key %s does not exist" % w["missing"]),
        ("key that is no PKCS#12", good + ["--sign", w["garbage"], "--password-file", w["pass"]],
         "does not open with the password"),
        ("wrong password", good + ["--sign", w["pfx"], "--password-file", w["wrong"]],
         "does not open with the password"),
        ("no password file", good + ["--sign", w["pfx"]], "--sign needs --password-file"),
        ("missing password file", good + ["--sign", w["pfx"], "--password-file", w["missing"]],
         "the password file %s does not exist" % w["missing"]),
        ("time stamp without signing", good + ["--timestamp", "http://127.0.0.1:9/"], "belong to --sign"),
        ("output folder not empty", good + key + ["--out", w["full"]], "already holds files"),
        ("unknown argument", good + ["--sing", w["pfx"]], "unknown argument: --sing"),
    ]


def run(args, build_dir, source):
    env = dict(os.environ, LEXOMIR_RELEASE_BUILD=build_dir)
    started = time.time()
    p = subprocess.run(["bash", os.path.join(source, "scripts", "release.sh"), *args], env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return p.returncode, p.stdout, time.time() - started


def make_files(w):
    os.makedirs(w["dir"])
    os.makedirs(w["full"])
    open(os.path.join(w["full"], "old.txt"), "w").close()
    open(w["empty"], "w").close()
    with open(w["payload"], "wb") as f:
        f.write(os.urandom(200001))
    with open(w["garbage"], "wb") as f:
        f.write(os.urandom(3000))
    with open(w["pass"], "w") as f:
        f.write("throw away\n")
    with open(w["wrong"], "w") as f:
        f.write("not it\n")
    key, cert = w["pfx"] + ".key", w["pfx"] + ".crt"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=Lexomir release test", "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", w["pfx"],
                    "-passout", "file:" + w["pass"]], check=True)
    return cert


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--source", required=True)
    ap.add_argument("--build-dir", required=True, help="release.sh's build folder (kept between runs)")
    opts = ap.parse_args()
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            print("FAIL %s not found (bash scripts/setup.sh installs it)" % tool)
            return 1
    work = tempfile.mkdtemp(prefix="lexomir-release-")
    w = {name: os.path.join(work, name) for name in
         ("payload", "empty", "dir", "missing", "garbage", "pfx", "pass", "wrong", "full", "out", "out2", "none")}
    failed = 0

    def check(ok, message):
        nonlocal failed
        failed += not ok
        print("%s %s" % ("ok  " if ok else "FAIL", message), flush=True)
        return ok

    try:
        cert = make_files(w)
        before = sorted(os.listdir(work))
        for name, args, expect in bad_inputs(w):
            rc, output, took = run(args, w["none"], opts.source)
            refusal = output.strip().splitlines()[-1] if output.strip() else ""
            check(rc == 2 and expect in output and not os.path.exists(w["none"])
                  and sorted(os.listdir(work)) == before,
                  "%s: exit %d in %.1f s, nothing built or written: %s" % (name, rc, took, refusal))

        rc, output, took = run(["--payload", w["payload"], "--version", VERSION, "--sign", w["pfx"],
                                "--password-file", w["pass"], "--out", w["out"]], opts.build_dir, opts.source)
        print(output[-3000:] if rc else "".join(l + "\n" for l in output.splitlines() if l.startswith("release:")))
        if not check(rc == 0, "a signed release, exit %d in %.0f s" % (rc, took)):
            return 1
        files = sorted(os.listdir(w["out"]))
        check(files == ["LexomirUpdate.exe", "LexomirUpdate.exe.sha256", "RELEASE.txt"], "output: %s" % files)
        installer = os.path.join(w["out"], "LexomirUpdate.exe")
        with open(installer, "rb") as f:
            image = f.read()
        digest = hashlib.sha256(image).hexdigest()
        with open(installer + ".sha256") as f:
            check(f.read() == "%s  LexomirUpdate.exe\n" % digest, "the SHA-256 file names the installer's digest")
        with open(w["payload"], "rb") as f:
            payload = f.read()
        with open(os.path.join(w["out"], "RELEASE.txt")) as f:
            note = f.read()
        commit = subprocess.run(["git", "-C", opts.source, "rev-parse", "HEAD"], stdout=subprocess.PIPE,
                                text=True).stdout.strip()
        for what, text in (("version", "package version %s (file version 1.0.0.%s)" % (VERSION, VERSION)),
                           ("payload size", "%d bytes" % len(payload)),
                           ("payload digest", hashlib.sha256(payload).hexdigest()),
                           ("installer digest", digest), ("signer", "signed by CN=Lexomir release test"),
                           ("commit", "commit " + commit)):
            check(text in note, "the note gives the %s: %s" % (what, text))
        offset, size = PeImage(image[:HEADER_PAGE]).directory(DIR_SECURITY)
        check(size and offset + size == len(image), "a certificate table of %d bytes ends the file" % size)
        verified = subprocess.run(["osslsigncode", "verify", "-in", installer, "-CAfile", cert],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        check(verified.returncode == 0, "osslsigncode verify with the throw-away certificate: exit %d"
              % verified.returncode)
        stripped = os.path.join(work, "stripped.exe")
        subprocess.run(["osslsigncode", "remove-signature", "-in", installer, "-out", stripped],
                       stdout=subprocess.DEVNULL, check=True)
        reproduced = sha256_file(stripped)
        named = re.search(r"can reproduce \(the unsigned build\): ([0-9a-f]{64})", output)
        check(named and named.group(1) == reproduced and reproduced in note,
              "without its signature the installer is the reproducible build: %s" % reproduced)

        rc, output, took = run(["--payload", w["payload"], "--version", VERSION, "--sign", w["pfx"],
                                "--password-file", w["pass"], "--timestamp", "http://127.0.0.1:9/",
                                "--out", w["out2"]], opts.build_dir, opts.source)
        leftovers = [n for n in os.listdir(work) if n.startswith(".release-")]
        check(rc == 1 and "FAILED: signing failed" in output and not os.path.exists(w["out2"]) and not leftovers,
              "a time stamp server that does not answer: exit %d, no output, no staging folder left (%s)"
              % (rc, leftovers or "none"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%s" % ("FAILED" if failed else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
