"""The SHA-256 of a file, read in pieces so that a 28 MB payload is never
held whole.

Python standard library only.
"""
import hashlib


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()
