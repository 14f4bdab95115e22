"""What the benchmark reads from the executables without running them:
their imports, their sections and how these stand in the file (through the
PE reader in winepe/pe.py), and where their bytes come from (a GNU ld link
map).

Python standard library only.
"""
import os
import re

# The output sections whose bytes stand in the file (.bss takes none).
FILE_SECTIONS = (".text", ".data", ".rdata", ".eh_frame", ".idata", ".CRT", ".tls", ".rsrc", ".reloc")
# What ld names its own input: the base relocations it makes.
LINKER_INPUT = "dll stuff"


def pe_imports(pe):
    """The DLLs a PE image's import table names, upper case, sorted."""
    return sorted({d.upper() for d in pe.imported_dlls()})


def resources_mapped(pe):
    """Whether the loader can map the resource section (the payload) from
    the file: Wine maps a section only when its bytes start on a page there,
    and reads it into private memory, whole, before the program starts
    otherwise."""
    rsrc = [s["rawptr"] for s in pe.sections if s["name"] == ".rsrc"]
    return bool(rsrc) and rsrc[0] % 4096 == 0


def layout(pe):
    """How the sections stand in the file: the file alignment, and whether
    the resource section (the payload) starts on a page there."""
    text = "%d bytes" % pe.file_alignment
    if pe.file_alignment < 4096 and resources_mapped(pe):
        text += ", resources moved to a 4 KiB boundary"
    return text


def map_lines(path):
    """The lines of a GNU ld map file from its memory map on."""
    with open(path, errors="replace") as f:
        started = False
        for raw in f:
            line = raw.rstrip("\n")
            if started:
                yield line
            started = started or line.startswith("Linker script and memory map")


def map_entries(path):
    """(output section, bytes, input file) of each input section of a GNU ld
    map file; a long input-section name puts the figures on the next line."""
    section = None
    pending = None
    entry = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(%s|\S+)$" % LINKER_INPUT)
    for line in map_lines(path):
        top = re.match(r"^(\.[A-Za-z_]+)(\s|$)", line)
        if top:
            section = top.group(1)
            pending = None
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


def input_name(src):
    """A map's input file as the size notes name it: an object compiled from
    this repository by its source file ("messages.cpp", "LexomirUpdate.rc.res"),
    whichever library holds it; a library member as "libstdc++.a(guard.o)"; a
    toolchain object by its file name ("crt2.o")."""
    member = re.match(r"^(?:.*/)?([^/(]+\.a)\((.*)\)$", src)
    name = member.group(2) if member else os.path.basename(src)
    if name.endswith(".obj") or name.endswith(".rc.res"):
        return name[:-len(".obj")] if name.endswith(".obj") else name
    if not member:
        return name
    library = member.group(1)
    if library.endswith("_delay.a"):
        # dlltool names the members after the library's path: keep the stub's own part.
        name = name.rsplit("_a_", 1)[-1]
    return "%s(%s)" % (library, name)


def map_inputs(entries):
    """{input: {output section: bytes}} of the sections that stand in the
    file, by input_name, from a map's entries (map_entries)."""
    inputs = {}
    for section, size, src in entries:
        if size and section in FILE_SECTIONS:
            sections = inputs.setdefault(input_name(src), {})
            sections[section] = sections.get(section, 0) + size
    return inputs


def map_included_by(path):
    """{library member: (input, symbol)}: why the linker took each archive
    member, from the map's first part ("Archive member included to satisfy
    reference by file (symbol)")."""
    included = {}
    member = None
    with open(path, errors="replace") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("Discarded input sections") or line.startswith("Memory Configuration"):
                break
            m = re.match(r"^(\S+\.a\(.*?\))(?:\s+(\S+) \((.*)\))?$", line)
            if m:
                member = input_name(m.group(1))
                if m.group(2):
                    included[member] = (input_name(m.group(2)), m.group(3))
                    member = None
                continue
            m = re.match(r"^\s+(\S+) \((.*)\)$", line)
            if m and member:
                included[member] = (input_name(m.group(1)), m.group(2))
                member = None
    return included


def map_breakdown(entries):
    """Bytes of .text, .rdata, .data and .eh_frame by where they come from,
    from a GNU ld map's entries (map_entries)."""
    groups = {}
    for section, size, src in entries:
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
