#!/usr/bin/env python3
"""Shows that check_image.py notices each fault it is there for: starting
from the built installer (which must pass), every case below damages one
property of a copy in memory and expects the checker to fail with the
matching message.

  check_image_test.py EXE PAYLOAD --package-version N [--company TEXT] [--copyright TEXT]

The options say what the build was given, as for check_image.py.
"""
import argparse
import struct
import sys

import check_image
from winepe.pe import (DIR_BASERELOC, DIR_IMPORT, DIR_RESOURCE, DLLCHAR_DYNAMIC_BASE, DLLCHAR_NX_COMPAT,
                       FILE_RELOCS_STRIPPED, RT_GROUP_ICON, RT_MANIFEST, RT_RCDATA, RT_VERSION, PeImage)


def replace_once(data, old, new):
    assert len(new) <= len(old)
    at = data.find(old)
    if at < 0:
        raise LookupError("%r not in the image" % old)
    data[at:at + len(old)] = new + b" " * (len(old) - len(new))
    return data


def set_u16(data, off, value):
    struct.pack_into("<H", data, off, value)
    return data


def resource_entry_offsets(pe):
    """File offsets of the 8-byte directory entries of the resource tree, as
    (level, id, offset); level 0 types, 1 names, 2 languages."""
    rva, _ = pe.directory(DIR_RESOURCE)
    base = pe.offset_of(rva)
    found = []

    def walk(dir_off, level):
        named, ids = struct.unpack_from("<HH", pe.data, base + dir_off + 12)
        for i in range(named + ids):
            off = base + dir_off + 16 + 8 * i
            ident, target = struct.unpack_from("<II", pe.data, off)
            if ident & 0x80000000:
                noff = base + (ident & 0x7FFFFFFF)
                n = struct.unpack_from("<H", pe.data, noff)[0]
                ident = pe.data[noff + 2:noff + 2 + 2 * n].decode("utf-16-le")
            found.append((level, ident, off, noff if isinstance(ident, str) else None))
            if target & 0x80000000 and level < 2:
                walk(target & 0x7FFFFFFF, level + 1)

    walk(0, 0)
    return found


def retag_type(pe, data, type_id, new_id):
    for level, ident, off, _ in resource_entry_offsets(pe):
        if level == 0 and ident == type_id:
            struct.pack_into("<I", data, off, new_id)
            return data
    raise LookupError("no resource type %r" % type_id)


def retag_cok_language(pe, data, new_lang):
    # Language entries follow their name entry in the walk order.
    entries = resource_entry_offsets(pe)
    in_cok = False
    for level, ident, off, _ in entries:
        if level == 0:
            in_cok = ident == "COK"
        elif in_cok and level == 2 and ident == 1049:
            struct.pack_into("<I", data, off, new_lang)
            return data
    raise LookupError("no COK resource in language 1049")


def rename_cok_type(pe, data):
    for level, ident, off, name_off in resource_entry_offsets(pe):
        if level == 0 and ident == "COK":
            data[name_off + 2:name_off + 8] = "COX".encode("utf-16-le")
            return data
    raise LookupError("no COK type")


def payload_offset(pe, payload):
    at = pe.data.find(payload[:4096])
    if at < 0:
        raise LookupError("payload not found in the image")
    return at


def first_import_name_offset(pe):
    rva, _ = pe.directory(DIR_IMPORT)
    off = pe.offset_of(rva)
    name_rva = struct.unpack_from("<IIIII", pe.data, off)[3]
    return pe.offset_of(name_rva)


def set_dll_characteristics(img, pe, value):
    return set_u16(bytearray(img), pe.opt_offset + 70, value)


def section_header_offset(pe, name):
    opt_size = struct.unpack_from("<H", pe.data, pe.pe_offset + 4 + 16)[0]
    names = [s["name"] for s in pe.sections]
    return pe.opt_offset + opt_size + 40 * names.index(name)


def move_section_start(img, pe, name, by):
    """The section's data said to start `by` bytes later in the file."""
    data = bytearray(img)
    off = section_header_offset(pe, name) + 20
    struct.pack_into("<I", data, off, struct.unpack_from("<I", data, off)[0] + by)
    return data


def first_delay_slot_offset(pe, dll):
    for name, iat, _ in pe.delay_descriptors():
        if name.lower() == dll:
            return pe.offset_of(iat)
    raise LookupError("no delay-import descriptor for %s" % dll)


def version_place(pe):
    places = [p for (t, n, _), p in pe.resource_places().items() if t == RT_VERSION and n == 1]
    if len(places) != 1:
        raise LookupError("no version resource")
    return places[0]


def in_version(pe, old, new):
    """The image with `old` replaced by `new` (as long) inside the version resource."""
    off, size = version_place(pe)
    at = pe.data.find(old, off, off + size)
    if at < 0:
        raise LookupError("%r not in the version resource" % old)
    return _splice(pe.data, at, new)


def utf16(text):
    return text.encode("utf-16-le")


def cases(pe, payload, details):
    """(name, damaged image, payload given, details given, text the failure
    must contain)."""
    img = pe.data
    pay_at = payload_offset(pe, payload)
    middle = len(payload) // 2
    imp = first_import_name_offset(pe)
    imp_len = img.index(b"\0", imp) - imp
    foreign = b"libgcc" + b"_" * max(0, imp_len - 10) + b".dll"
    damaged = [
        ("machine x86-64", set_u16(bytearray(img), pe.pe_offset + 4, 0x8664), payload, "machine 0x8664"),
        ("PE32+ magic", set_u16(bytearray(img), pe.opt_offset, 0x20B), payload, "magic 0x20b"),
        ("console subsystem", set_u16(bytearray(img), pe.opt_offset + 68, 3), payload, "subsystem 3"),
        ("no ASLR", set_dll_characteristics(img, pe, pe.dll_characteristics & ~DLLCHAR_DYNAMIC_BASE),
         payload, "DYNAMIC_BASE"),
        ("no DEP", set_dll_characteristics(img, pe, pe.dll_characteristics & ~DLLCHAR_NX_COMPAT),
         payload, "NX_COMPAT"),
        ("relocations stripped", set_u16(bytearray(img), pe.pe_offset + 4 + 18,
                                         pe.characteristics | FILE_RELOCS_STRIPPED),
         payload, "relocations-stripped flag set"),
        ("no relocation table", _splice(img, pe.opt_offset + 96 + 8 * DIR_BASERELOC, b"\0" * 8),
         payload, "base relocations kept: 0 bytes"),
        ("resources at 512 bytes in the file", move_section_start(img, pe, ".rsrc", 0x200), payload,
         ".rsrc at 0x"),
        ("runtime DLL import", _splice(img, imp, foreign), payload, "not Windows system DLLs"),
        # version.dll is no KnownDLL: imported, it would be looked for beside the executable first.
        ("version.dll import", _splice(img, imp, b"version.dll" + b"\0" * max(0, imp_len - 11)), payload,
         "not Windows system DLLs"),
        # Imported, user32 is loaded at start by every run, one that shows nothing too.
        ("user32.dll import", _splice(img, imp, b"user32.dll" + b"\0" * max(0, imp_len - 10)), payload,
         "the import table names no GUI library (found: user32.dll)"),
        # What ld's i386 emulation made of dlltool's delay thunks: a slot linked as 0.
        ("delay IAT slot 0", _splice(img, first_delay_slot_offset(pe, "user32.dll"), b"\0\0\0\0"), payload,
         "user32.dll: each of the"),
        ("asInvoker manifest", replace_once(bytearray(img), b'"requireAdministrator"', b'"asInvoker"'),
         payload, "requested execution level"),
        ("old Common-Controls", replace_once(bytearray(img), b'version="6.0.0.0"', b'version="5.8.0.0"'),
         payload, "Common-Controls dependency version"),
        ("no group icon", retag_type(pe, bytearray(img), RT_GROUP_ICON, 15), payload,
         "group icon resources (type 14): 0"),
        ("payload in another language", retag_cok_language(pe, bytearray(img), 1033), payload,
         '"COK" name "LXN" language 1049 present'),
        ("payload under another type", rename_cok_type(pe, bytearray(img)), payload,
         '"COK" name "LXN" language 1049 present'),
        ("one payload byte changed", _flip(img, pay_at + middle), payload,
         "first difference at byte offset %d" % middle),
        ("payload file one byte longer", bytes(img), payload + b"\0", "differs from the payload"),
        ("not a PE file", b"MZ" + b"\0" * 62, payload, "not a readable PE image"),
    ]
    same = [(name, image, given, details, expect) for name, image, given, expect in damaged]
    other_version = dict(details, version=details["version"] % 65535 + 1)
    translations = struct.pack("<4H", 0x0419, 1251, 0x0409, 1252)
    version_off, _ = version_place(pe)
    # dwFileDateMS, the fixed part's twelfth word (the part starts 40 bytes
    # into VS_VERSION_INFO): the version check does not read it, so only the
    # seal can notice it.
    file_date = version_off + 40 + 11 * 4
    return same + [
        ("no version resource", retag_type(pe, bytearray(img), RT_VERSION, 17), payload, details,
         "version resource type 16 id 1: 0 found"),
        ("built with another version", img, payload, other_version, "version fixed part"),
        ("built with a company name", img, payload, dict(details, company=details["company"] + "Somebody"),
         "CompanyName"),
        ("built with a copyright", img, payload, dict(details, copyright=details["copyright"] + "(c) Somebody"),
         "LegalCopyright"),
        ("English description changed", in_version(pe, utf16("Lexomir update"), utf16("Lexomir apdate")), payload,
         details, "version table 040904E4: FileDescription"),
        ("Russian description changed", in_version(pe, utf16("программы"), utf16("програмны")), payload, details,
         "version table 041904E3: FileDescription"),
        ("Russian table relabelled Unicode", in_version(pe, utf16("041904E3"), utf16("041904B0")), payload,
         details, "version string tables 041904B0"),
        ("translations in the other order", in_version(pe, translations, translations[4:] + translations[:4]),
         payload, details, "version translations 0x0409/1252, 0x0419/1251"),
        ("a version byte changed after sealing", _flip(img, file_date), payload, details,
         "the seal covers the whole file"),
        ("seal slot emptied", seal_emptied(pe), payload, details, "stored 0000"),
        # Signing rewrites the checksum, so the seal leaves it out; only its own check can tell.
        ("checksum off by one", _splice(img, pe.opt_offset + 64, struct.pack(
            "<I", struct.unpack_from("<I", img, pe.opt_offset + 64)[0] + 1)), payload, details, "header checksum"),
    ]


def seal_emptied(pe):
    places = [p for (t, n, _), p in pe.resource_places().items() if t == RT_RCDATA and n == "LXSEAL"]
    return _splice(pe.data, places[0][0], b"\0" * 32)


def _splice(img, off, new):
    data = bytearray(img)
    data[off:off + len(new)] = new
    return data


def _flip(img, off):
    data = bytearray(img)
    data[off] ^= 0xFF
    return data


SUPPORTED_OS = (b'<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>'
                b'<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/></application></compatibility>')


def manifest_cases(manifest):
    """(name, manifest text, text the failure must contain): a grown manifest
    does not fit into the image, so these go to the manifest check itself."""
    closing = manifest.rindex(b"</assembly>")
    return [
        ("supportedOS list", manifest[:closing] + SUPPORTED_OS + manifest[closing:], "no supportedOS list"),
        ("manifest cut short", manifest[:closing], "not well-formed"),
        ("no execution level", manifest.replace(b"requestedExecutionLevel", b"requestedExecutionLevex"),
         "requested execution level none"),
        ("no Common-Controls", manifest.replace(b"Microsoft.Windows.Common-Controls", b"Microsoft.Windows.Common-Kontrols"),
         "Common-Controls dependency version none"),
        ("only system DPI aware", manifest.replace(b">true/pm<", b">true<"), "manifest dpiAware ['true']"),
        ("per-monitor v1 only", manifest.replace(b">PerMonitorV2, PerMonitor<", b">PerMonitor<"),
         "manifest dpiAwareness ['PerMonitor']"),
        ("no DPI awareness", manifest.replace(b"<dpiAwareness", b"<dpiAwarenesz").replace(b"</dpiAwareness", b"</dpiAwarenesz"),
         "manifest dpiAwareness none"),
        ("dpiAwareness in the 2005 namespace", manifest.replace(b"SMI/2016/", b"SMI/2005/"), "dpiAwareness"),
    ]


def main(argv):
    ap = argparse.ArgumentParser(description="Shows that check_image.py notices each fault.")
    ap.add_argument("exe")
    ap.add_argument("payload")
    ap.add_argument("--package-version", type=int, required=True)
    ap.add_argument("--company", default="")
    ap.add_argument("--copyright", default="")
    opts = ap.parse_args(argv[1:])
    details = {"version": opts.package_version, "company": opts.company, "copyright": opts.copyright}
    with open(opts.exe, "rb") as f:
        image = f.read()
    with open(opts.payload, "rb") as f:
        payload = f.read()
    baseline = [m for ok, m in check_image.check(image, payload, details) if not ok]
    if baseline:
        print("FAIL the undamaged image does not pass, so the cases prove nothing: %s" % "; ".join(baseline))
        return 1
    pe = PeImage(image)
    manifest = next(v for (t, n, _), v in pe.resources().items() if t == RT_MANIFEST and n == 1)
    # Each case with the checker's failures and the one it must contain.
    runs = [(name, check_image.check(bytes(damaged), given_payload, given_details), expect)
            for name, damaged, given_payload, given_details, expect in cases(pe, payload, details)]
    runs += [(name, check_image.check_manifest(text), expect) for name, text, expect in manifest_cases(manifest)]
    passed = failed = 0
    for name, results, expect in runs:
        failures = [m for ok, m in results if not ok]
        hit = [m for m in failures if expect in m]
        if hit:
            passed += 1
            print("ok   %s: %s" % (name, hit[0]))
        else:
            failed += 1
            print("FAIL %s: expected a failure mentioning %r, got %s" % (name, expect, failures or "no failure"))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
