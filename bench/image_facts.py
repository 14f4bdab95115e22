"""What the benchmark reads from the executables without running them:
their imports, their sections and how these stand in the file, and where
their bytes come from (a GNU ld link map).

Python standard library only.
"""
import os
import re
import struct
import subprocess


def pe_imports(path):
    """The DLLs a PE file imports, upper case, sorted."""
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    return sorted({m.upper() for m in re.findall(r"DLL Name: (\S+)", out)})


def pe_sections(path):
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + opt_size
    out = []
    for i in range(count):
        name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        out.append({"name": name.rstrip(b"\0").decode("latin-1"), "vsize": vsize, "rawsize": rawsize,
                    "rawptr": rawptr})
    return out


def map_entries(path):
    """(output section, bytes, input file) of each input section of a GNU ld
    map file; a long input-section name puts the figures on the next line."""
    section = None
    pending = None
    entry = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$")
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            top = re.match(r"^(\.[a-z_]+)\s", line)
            if top:
                section = top.group(1)
                continue
            if pending and re.match(r"^\s+0x[0-9a-f]+\s+0x[0-9a-f]+\s+\S+$", line):
                line = " " + pending + line
            pending = None
            m = entry.match(line)
            if not m:
                m2 = re.match(r"^ (\.\S+)$", line)
                pending = m2.group(1) if m2 else None
                continue
            yield section, int(m.group(3), 16), m.group(4)


def map_member(path, member, section):
    """Bytes of one output section that come from one archive member."""
    return sum(size for where, size, src in map_entries(path) if where == section and src.endswith("(%s)" % member))


def map_breakdown(path):
    """Bytes of .text, .rdata, .data and .eh_frame by where they come from,
    read from a GNU ld map file."""
    groups = {}
    for section, size, src in map_entries(path):
        if size == 0 or section not in (".text", ".rdata", ".data", ".eh_frame"):
            continue
        if "liblexomir_product.a" in src or "installer_map.dir" in src:
            who = "product code"
        elif "libstdc++" in src or "libsupc++" in src:
            who = "libstdc++"
        elif "libgcc" in src:
            who = "libgcc / libgcc_eh"
        elif "libmingwex" in src or "libmingw32" in src or "crt" in os.path.basename(src) or "libmoldname" in src:
            who = "MinGW C runtime"
        elif "libmsvcrt" in src or src.endswith(".a)") and "lib" in src:
            who = "import stubs and other libraries"
        else:
            who = "other"
        groups.setdefault(who, {}).setdefault(section, 0)
        groups[who][section] += size
    return groups


def layout(exe):
    """How the sections stand in the file: the file alignment, and whether
    the resource section (the payload) starts on a page there."""
    with open(exe, "rb") as f:
        head = f.read(1024)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    alignment = struct.unpack_from("<I", head, pe + 24 + 36)[0]
    rsrc = [s["rawptr"] for s in pe_sections(exe) if s["name"] == ".rsrc"]
    text = "%d bytes" % alignment
    if alignment < 4096 and rsrc and rsrc[0] % 4096 == 0:
        text += ", resources moved to a 4 KiB boundary"
    return text
