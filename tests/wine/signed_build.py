#!/usr/bin/env python3
"""A signed installer still passes its own check, under Wine.

Whoever ships the installer signs the sealed file (osslsigncode, after the
build). The signature lands in the certificate table and the security
directory entry, which the integrity digest leaves out; everything else
must still be covered. So: sign the built installer with a throw-away
certificate, check that it carries the signature, then run it under Wine
through run_scenarios.py: a quiet install must succeed (the check passes)
and a copy with one code byte changed must still be refused.

  signed_build.py --installer EXE --standin EXE --boxdriver EXE --payload FILE

Python standard library, openssl and osslsigncode.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
from winepe import wine
from winepe.pe import DIR_SECURITY, PeImage

SCENARIOS = ("quiet_capitals", "distorted_installer")


def security_directory(path):
    """(offset, size) of the certificate table named by the PE header."""
    return PeImage.of_file(path, headers_only=True).directory(DIR_SECURITY)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    for name in ("installer", "standin", "boxdriver", "payload"):
        ap.add_argument("--" + name, required=True)
    opts = ap.parse_args()
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            print("%s not found (bash scripts/setup.sh installs it)" % tool)
            return 1
    if not wine.runs_natively(opts.installer):
        wine.skip("this host runs no 32-bit code natively (%s); the 64-bit test build is signed and run "
                  "instead (ctest --preset windows64)" % wine.host_kind())

    work = tempfile.mkdtemp(prefix="lexomir-signed-")
    try:
        key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
        signed = os.path.join(work, os.path.basename(opts.installer))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Lexomir test signing", "-keyout", key, "-out", cert],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                        "-n", "Lexomir update", "-in", opts.installer, "-out", signed],
                       check=True, stdout=subprocess.DEVNULL)
        offset, size = security_directory(signed)
        grown = os.path.getsize(signed) - os.path.getsize(opts.installer)
        print("signed %s: certificate table at 0x%x, %d bytes; the file grew by %d bytes"
              % (os.path.basename(signed), offset, size, grown), flush=True)
        if size == 0 or offset + size != os.path.getsize(signed) or grown <= 0:
            print("FAIL the signed file carries no certificate table at its end")
            return 1
        if security_directory(opts.installer) != (0, 0):
            print("FAIL the built installer was already signed; the test needs an unsigned one")
            return 1
        return subprocess.call([sys.executable, os.path.join(HERE, "run_scenarios.py"),
                                "--installer", signed, "--standin", opts.standin,
                                "--boxdriver", opts.boxdriver, "--payload", opts.payload, *SCENARIOS])
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
