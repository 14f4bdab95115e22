"""Windows programs seen from this Linux host: their PE images read, and
run under Wine. The image checks, the Wine tests, the benchmark and the
scripts all import it; it imports nothing of theirs.

- pe: reads a PE file: headers, sections, imports, delay imports, resources;
- host32: whether this host runs 32-bit x86 programs, natively or emulated;
- wine: how this host runs a Windows program under Wine, and Wine prefixes;
- digest: the SHA-256 of a file;
- installation: the installation of Lexomir made in a prefix for the
  installer to update, and the libraries a quiet run of it must not load.

Imported with the repository's root on the import path (CTest and the
scripts set PYTHONPATH; by hand: PYTHONPATH=. python3 -m winepe.host32).
The tests' own harness stays in tests/wine/, the benchmark's in bench/.
Python standard library only.
"""
