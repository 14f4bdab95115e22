#!/usr/bin/env python3
"""Checks the properties of the built installer image that Windows and its
users rely on, by reading the PE file itself:

- a PE32 image for i386 (machine 0x14c) with the GUI subsystem (2);
- its import table names only Windows system DLLs, so the one file runs on
  a bare Windows without any runtime DLL beside it;
- the GUI libraries (user32, gdi32, comctl32, shell32) and COM's (ole32,
  oleaut32) are not in that table but delay-imported, each slot of their
  delay IAT pointing into code (the thunk that loads the library at the
  first call), so that a run showing and starting nothing loads none of them;
- its manifest (resource type 24, id 1) asks for administrator elevation and
  Common Controls 6.0.0.0, declares per-monitor DPI awareness (so Windows
  draws the boxes at the screen's resolution instead of stretching them)
  and no list of supported systems (without that list Windows 8.1 and later
  report version 6.2, which the OS identification relies on);
- it can be loaded at any address with its data not executable: ASLR
  (dynamic base, with the base relocations it needs) and DEP (NX
  compatible) are both declared;
- the resource section starts at a 4 KiB boundary in the file, as in
  memory, so that Wine maps it (28 MB of payload) from the file instead of
  reading it into private memory;
- it carries a group icon whose icons are present;
- resource type "COK", name "LXN", language 1049 holds the payload byte for
  byte;
- its version resource says what the build was given: version 1.0.0.N in the
  fixed part and in both string tables, Russian (0x0419, code page 1251)
  and English (0x0409, 1252), each with the description in its language,
  the product, file names and the publisher's details, and nothing else;
- the seal (RCDATA "LXSEAL") holds the SHA-256 of the whole file less the
  bytes signing rewrites and the slot itself, computed here on its own, so
  the version resource is covered like everything else;
- the header checksum is that of the file, so that removing a signature
  (which computes it anew) gives back these very bytes.

  check_image.py EXE PAYLOAD --package-version N [--company TEXT] [--copyright TEXT]

Prints one line per check; exits 1 when any check fails, 2 when the files
cannot be read at all. The file is read through the PE reader the tests
and the benchmark share (winepe/pe.py).
"""
import argparse
import array
import hashlib
import re
import struct
import sys
import xml.etree.ElementTree as ET

from winepe.installation import GUI_LIBRARIES
from winepe.pe import (DIR_BASERELOC, DIR_RESOURCE, DIR_SECURITY, DLLCHAR_DYNAMIC_BASE,
                       DLLCHAR_NX_COMPAT, FILE_RELOCS_STRIPPED, IMAGE_FILE_MACHINE_I386, PE32_MAGIC,
                       RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_RCDATA, RT_VERSION, SUBSYSTEM_WINDOWS_GUI,
                       PeError, PeImage)

PAGE = 0x1000

DPI_SETTINGS = (("dpiAware", "http://schemas.microsoft.com/SMI/2005/WindowsSettings", "true/pm"),
                ("dpiAwareness", "http://schemas.microsoft.com/SMI/2016/WindowsSettings", "PerMonitorV2, PerMonitor"))

# The version resource: its two string tables and what each must say.
RU_TITLE = "Обновление программы \"Лексомир\""
VERSION_TABLES = (("041904E3", 0x0419, 1251, RU_TITLE), ("040904E4", 0x0409, 1252, "Lexomir update"))
EXE_NAME = "LexomirUpdate"
FIXED_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32, VFT_APP = 0x40004, 1

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "gdi32.dll",
                "comctl32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "ntdll.dll"}
ALLOWED_DLL_PREFIXES = ("api-ms-win-",)


def version_node(data, off=0):
    """One node of a version resource: (key, value, children, end). The value
    is text for a text node (type 1) and bytes otherwise."""
    length, value_length, kind = struct.unpack_from("<HHH", data, off)
    end = off + length
    if length < 6 or end > len(data):
        raise PeError("version node at %d: length %d runs past the resource (%d bytes)" % (off, length, len(data)))
    at = off + 6
    key_end = at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise PeError("version node at %d: its key has no end" % off)
    key = data[at:key_end].decode("utf-16-le")
    at = (key_end + 2 + 3) & ~3
    size = value_length * 2 if kind == 1 else value_length
    raw = data[at:at + size]
    value = raw.decode("utf-16-le").split("\0", 1)[0] if kind == 1 else raw
    at = (at + size + 3) & ~3
    children = []
    while at < end:
        child = version_node(data, at)
        children.append(child)
        at = (child[3] + 3) & ~3
    return key, value, children, end


def read_version(data):
    """{"fixed": (file MS, file LS, product MS, product LS, flags, OS, type),
    "tables": {key: {name: text}} in stored order, "translations": [(language,
    code page)]} from an RT_VERSION resource."""
    key, fixed, children, _ = version_node(data)
    if key != "VS_VERSION_INFO" or len(fixed) != 52:
        raise PeError("no VS_VERSION_INFO with a 52-byte fixed part (key %r, %d bytes)" % (key, len(fixed)))
    words = struct.unpack("<13I", fixed)
    if words[0] != FIXED_SIGNATURE:
        raise PeError("fixed part signature 0x%08x" % words[0])
    result = {"fixed": words[2:6] + (words[7], words[8], words[9]), "tables": {}, "translations": []}
    for name, _, blocks, _ in children:
        if name == "StringFileInfo":
            for table, _, strings, _ in blocks:
                result["tables"][table.upper()] = {k: v for k, v, _, _ in strings}
        elif name == "VarFileInfo":
            for var, value, _, _ in blocks:
                if var == "Translation":
                    result["translations"] += [struct.unpack_from("<HH", value, i)
                                               for i in range(0, len(value) - 3, 4)]
    return result


def check_version(resource, details):
    """The version resource against what the build was given, as a list of
    (ok, message)."""
    results = []

    def report(ok, message):
        results.append((bool(ok), message))

    try:
        info = read_version(resource)
    except (PeError, struct.error, UnicodeDecodeError) as e:
        report(False, "version resource unreadable: %s" % e)
        return results
    n = details["version"]
    dotted = "1.0.0.%d" % n
    want_fixed = (0x00010000, n, 0x00010000, n, 0, VOS_NT_WINDOWS32, VFT_APP)
    report(info["fixed"] == want_fixed, "version fixed part (file and product version %s, flags, OS, type): %s "
           "(want %s)" % (dotted, ", ".join("0x%x" % v for v in info["fixed"]), ", ".join("0x%x" % v for v in want_fixed)))
    want_translations = [(language, page) for _, language, page, _ in VERSION_TABLES]
    report(info["translations"] == want_translations, "version translations %s (want %s)" % (
        ", ".join("0x%04x/%d" % t for t in info["translations"]) or "none",
        ", ".join("0x%04x/%d" % t for t in want_translations)))
    report(sorted(info["tables"]) == sorted(t[0] for t in VERSION_TABLES),
           "version string tables %s (want %s)" % (", ".join(info["tables"]) or "none",
                                                   ", ".join(t[0] for t in VERSION_TABLES)))
    for table, _, _, description in VERSION_TABLES:
        want = {"CompanyName": details["company"], "FileDescription": description, "FileVersion": dotted,
                "InternalName": EXE_NAME, "LegalCopyright": details["copyright"],
                "OriginalFilename": EXE_NAME + ".exe", "ProductName": "Lexomir", "ProductVersion": dotted}
        got = info["tables"].get(table, {})
        wrong = ["%s %r (want %r)" % (k, got.get(k, "missing"), v) for k, v in sorted(want.items()) if got.get(k) != v]
        wrong += ["%s %r (not wanted)" % (k, v) for k, v in sorted(got.items()) if k not in want]
        report(got and not wrong, "version table %s: %s" % (
            table, "; ".join(wrong) if wrong else ", ".join("%s=%r" % kv for kv in sorted(got.items()))))
    return results


def seal_digest(pe, slot_offset):
    """SHA-256 of the file without the checksum field, the certificate-table
    directory entry, the certificate table and the 32-byte slot."""
    cert_offset, cert_size = pe.directory(DIR_SECURITY)
    skip = sorted([(pe.checksum_offset, 4), (pe.directories_offset + 8 * DIR_SECURITY, 8),
                   (cert_offset, cert_size), (slot_offset, 32)])
    digest = hashlib.sha256()
    at = 0
    for offset, size in skip:
        if size:
            digest.update(pe.data[at:offset])
            at = max(at, offset + size)
    digest.update(pe.data[at:])
    return digest.digest()


def pe_checksum(data, field):
    """The header checksum as Windows computes it: 16-bit words added with
    end-around carry, the field itself as 0, plus the file's length."""
    words = array.array("H", data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def local_name(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(manifest):
    """The manifest's own checks, as a list of (ok, message)."""
    results = []

    def report(ok, message):
        results.append((bool(ok), message))

    text = manifest[3:] if manifest.startswith(b"\xef\xbb\xbf") else manifest
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        report(False, "manifest is not well-formed XML: %s" % e)
        return results
    levels = [el.get("level") for el in root.iter() if local_name(el.tag) == "requestedExecutionLevel"]
    report(levels == ["requireAdministrator"],
           "manifest requested execution level %s (want requireAdministrator)" % (levels or "none"))
    cc = [el.get("version") for el in root.iter()
          if local_name(el.tag) == "assemblyIdentity" and el.get("name") == "Microsoft.Windows.Common-Controls"]
    report(cc == ["6.0.0.0"], "manifest Common-Controls dependency version %s (want 6.0.0.0)" % (cc or "none"))
    # Windows 10 1607 and later read dpiAwareness, the earlier ones dpiAware:
    # per monitor (v2 where there is one), system-wide on Windows 7 and 8.
    for name, namespace, want in DPI_SETTINGS:
        found = [(el.tag, (el.text or "").strip()) for el in root.iter() if local_name(el.tag) == name]
        report(found == [("{%s}%s" % (namespace, name), want)],
               "manifest %s %s (want %r in %s)" % (name, [text for _, text in found] or "none", want, namespace))
    supported = [el for el in root.iter() if local_name(el.tag).lower() == "supportedos"]
    raw_mention = re.search(rb"supportedOS", manifest, re.IGNORECASE)
    report(not supported and not raw_mention,
           "manifest declares no supportedOS list (%d found)" % max(len(supported), bool(raw_mention)))
    return results


def check(exe_bytes, payload, details):
    """Returns a list of (ok, message). `details` is what the build was
    given for the version resource: {"version": N, "company": text,
    "copyright": text}."""
    results = []

    def report(ok, message):
        results.append((bool(ok), message))
        return ok

    try:
        pe = PeImage(exe_bytes)
    except (PeError, struct.error, ValueError) as e:
        report(False, "not a readable PE image: %s" % e)
        return results

    report(pe.magic == PE32_MAGIC, "optional header magic 0x%x (PE32 is 0x10b)" % pe.magic)
    report(pe.machine == IMAGE_FILE_MACHINE_I386, "machine 0x%x (i386 is 0x14c)" % pe.machine)
    if pe.magic != PE32_MAGIC:
        return results
    report(pe.subsystem == SUBSYSTEM_WINDOWS_GUI, "subsystem %s (Windows GUI is 2)" % pe.subsystem)
    dllchar = pe.dll_characteristics
    report(dllchar & DLLCHAR_DYNAMIC_BASE, "DYNAMIC_BASE (ASLR) in DllCharacteristics 0x%04x" % dllchar)
    report(dllchar & DLLCHAR_NX_COMPAT, "NX_COMPAT (DEP) in DllCharacteristics 0x%04x" % dllchar)
    # Without its base relocations an image with DYNAMIC_BASE still loads
    # only at its preferred address.
    _, reloc_size = pe.directory(DIR_BASERELOC)
    report(not pe.characteristics & FILE_RELOCS_STRIPPED and reloc_size > 0,
           "base relocations kept: %d bytes, relocations-stripped flag %s"
           % (reloc_size, "set" if pe.characteristics & FILE_RELOCS_STRIPPED else "clear"))
    resources_rva, _ = pe.directory(DIR_RESOURCE)
    holders = [s for s in pe.sections
               if s["rawsize"] and s["va"] <= resources_rva < s["va"] + max(s["vsize"], s["rawsize"])]
    report(holders and holders[0]["rawptr"] % PAGE == 0,
           "the resource section starts at a 4 KiB boundary in the file (%s)"
           % ("%s at 0x%x" % (holders[0]["name"], holders[0]["rawptr"]) if holders else "no section holds it"))

    try:
        dlls = pe.imported_dlls()
    except (PeError, struct.error, ValueError) as e:
        report(False, "import table unreadable: %s" % e)
        dlls = None
    if dlls is not None:
        foreign = [d for d in dlls
                   if d.lower() not in ALLOWED_DLLS and not d.lower().startswith(ALLOWED_DLL_PREFIXES)]
        if foreign:
            report(False, "imports DLLs that are not Windows system DLLs: %s (all imports: %s)"
                   % (", ".join(foreign), ", ".join(dlls)))
        else:
            report(bool(dlls), "imports only system DLLs: %s" % (", ".join(dlls) or "none at all"))
        gui = [d for d in dlls if d.lower() in GUI_LIBRARIES]
        report(not gui, "the import table names no GUI library (found: %s)" % (", ".join(gui) or "none"))
        try:
            delayed = pe.delay_imports()
        except (PeError, struct.error, ValueError) as e:
            report(False, "delay-import descriptors unreadable: %s" % e)
            delayed = {}
        delayed = {d.lower(): f for d, f in delayed.items()}
        # Every run that shows a box calls user32; the others may go unused.
        report("user32.dll" in delayed, "GUI libraries delay-imported: %s"
               % (", ".join("%s (%d)" % (d, len(f)) for d, f in sorted(delayed.items())) or "none"))
        for dll, functions in sorted(delayed.items()):
            unbound = [f for f, value in functions if not pe.in_code(value)]
            report(functions and not unbound, "%s: each of the %d delay IAT slots points into code "
                   "(not: %s)" % (dll, len(functions), ", ".join(unbound) or "none"))

    try:
        places = pe.resource_places()
    except (PeError, struct.error, ValueError) as e:
        report(False, "resource directory unreadable: %s" % e)
        return results
    res = pe.resources(places)

    manifests = [v for (t, n, _), v in res.items() if t == RT_MANIFEST and n == 1]
    if report(len(manifests) == 1, "manifest resource type 24 id 1: %d found" % len(manifests)):
        results.extend(check_manifest(manifests[0]))

    groups = [(k, v) for k, v in res.items() if k[0] == RT_GROUP_ICON]
    if report(groups, "group icon resources (type 14): %d" % len(groups)):
        icon_ids = {n for (t, n, _) in res if t == RT_ICON}
        for (_, gname, _), gdata in groups:
            if len(gdata) < 6:
                report(False, "group icon %s is truncated (%d bytes)" % (gname, len(gdata)))
                continue
            _, kind, count = struct.unpack_from("<HHH", gdata, 0)
            ids = [struct.unpack_from("<H", gdata, 6 + 14 * i + 12)[0]
                   for i in range(count) if 6 + 14 * i + 14 <= len(gdata)]
            missing = [i for i in ids if i not in icon_ids]
            report(kind == 1 and count > 0 and len(ids) == count and not missing,
                   "group icon %s: type %d, %d image(s), missing icon ids %s"
                   % (gname, kind, count, missing or "none"))

    key = ("COK", "LXN", 1049)
    if report(key in res, 'resource type "COK" name "LXN" language 1049 present (COK resources: %s)'
              % ([k for k in res if k[0] == "COK"] or "none")):
        data = res[key]
        if data == payload:
            report(True, "COK/LXN/1049 equals the payload byte for byte (%d bytes)" % len(payload))
        else:
            at = first_difference(data, payload)
            report(False, "COK/LXN/1049 differs from the payload: %d bytes in the image, %d in the "
                   "payload, first difference at byte offset %d" % (len(data), len(payload), at))

    versions = [v for (t, n, _), v in res.items() if t == RT_VERSION and n == 1]
    if report(len(versions) == 1, "version resource type 16 id 1: %d found" % len(versions)):
        results.extend(check_version(versions[0], details))

    slots = [place for (t, n, _), place in places.items() if t == RT_RCDATA and n == "LXSEAL"]
    if report(len(slots) == 1 and slots[0][1] == 32, "seal slot RCDATA LXSEAL of 32 bytes: %s"
              % (", ".join("%d bytes at 0x%x" % (size, off) for off, size in slots) or "none")):
        stored = exe_bytes[slots[0][0]:slots[0][0] + 32]
        actual = seal_digest(pe, slots[0][0])
        report(stored == actual, "the seal covers the whole file but the signing fields and itself: "
               "stored %s, computed %s" % (stored.hex(), actual.hex()))
    field = pe.checksum_offset
    stored_sum, actual_sum = struct.unpack_from("<I", exe_bytes, field)[0], pe_checksum(exe_bytes, field)
    report(stored_sum == actual_sum, "header checksum 0x%08x (the file's: 0x%08x)" % (stored_sum, actual_sum))
    return results


def main(argv):
    ap = argparse.ArgumentParser(description="Checks the built installer image.")
    ap.add_argument("exe")
    ap.add_argument("payload")
    ap.add_argument("--package-version", type=int, required=True, help="the N of version 1.0.0.N")
    ap.add_argument("--company", default="", help="CompanyName the build was given")
    ap.add_argument("--copyright", default="", help="LegalCopyright the build was given")
    opts = ap.parse_args(argv[1:])
    details = {"version": opts.package_version, "company": opts.company, "copyright": opts.copyright}
    try:
        with open(opts.exe, "rb") as f:
            exe = f.read()
        with open(opts.payload, "rb") as f:
            payload = f.read()
    except OSError as e:
        print("FAIL cannot read input: %s" % e)
        return 2
    print("checking %s (%d bytes) against payload %s (%d bytes)" % (opts.exe, len(exe), opts.payload, len(payload)))
    results = check(exe, payload, details)
    for ok, message in results:
        print("%s %s" % ("ok  " if ok else "FAIL", message))
    failed = sum(1 for ok, _ in results if not ok)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
