"""Windows executables seen from this Linux host, for the image checks, the
Wine tests, the benchmark and the scripts alike:

- pe: reads a PE file: headers, sections, imports, delay imports, resources;
- wine: how this host runs a Windows program under Wine, and Wine prefixes;
- digest: the SHA-256 of a file;
- installation: the installation of Lexomir made in a prefix for the
  installer to update, and the libraries a quiet run of it must not load.

The tests' own harness stays in tests/wine/, the benchmark's in bench/.
Python standard library only.
"""
