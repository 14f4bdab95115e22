"""Reads a PE file (a Windows executable) without any library: its headers,
its sections, the DLLs it imports and delay-imports, and its resource tree.
The image checks, the Wine tests and the benchmark all read executables
through this one reader.

Python standard library only.
"""
import re
import struct

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B
SUBSYSTEM_WINDOWS_GUI = 2
DIR_IMPORT, DIR_RESOURCE, DIR_SECURITY, DIR_BASERELOC, DIR_DELAY_IMPORT = 1, 2, 4, 5, 13
SCN_CNT_CODE = 0x20
FILE_RELOCS_STRIPPED = 0x0001
DLLCHAR_DYNAMIC_BASE, DLLCHAR_NX_COMPAT = 0x0040, 0x0100
RT_ICON, RT_RCDATA, RT_VERSION, RT_GROUP_ICON, RT_MANIFEST = 3, 10, 16, 14, 24
HEADER_PAGE = 4096       # holds the headers and the section table of the images read here
DLL_NAME = re.compile(rb"[A-Za-z0-9_.-]{1,64}\.dll\Z", re.I)


class PeError(Exception):
    pass


class PeImage:
    """The parts of a PE file that the image checks, the tests and the
    benchmark need: headers, sections, imports and the resource tree. The
    headers and the section table alone need only the file's first page."""

    @classmethod
    def of_file(cls, path, headers_only=False):
        """The image of the file at PATH; with headers_only, of its first page."""
        with open(path, "rb") as f:
            return cls(f.read(HEADER_PAGE) if headers_only else f.read())

    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("no MZ header")
        self.pe_offset = self._u32(0x3C)
        if data[self.pe_offset:self.pe_offset + 4] != b"PE\0\0":
            raise PeError("no PE signature at offset 0x%x" % self.pe_offset)
        coff = self.pe_offset + 4
        (self.machine, nsections, _, _, _, opt_size, self.characteristics) = \
            struct.unpack_from("<HHIIIHH", data, coff)
        self.opt_offset = coff + 20
        self.magic = self._u16(self.opt_offset)
        # At the same place in PE32 and PE32+.
        self.checksum_offset = self.opt_offset + 64
        if self.magic not in (PE32_MAGIC, PE32_PLUS_MAGIC):
            # Enough for the caller to report; nothing else is read.
            self.subsystem = None
            self.dll_characteristics = None
            self.image_base = 0
            self.file_alignment = None
            self.sections = []
            self.directories = []
            self.directories_offset = None
            return
        # PE32+ (the 64-bit test build) has an 8-byte image base and stack
        # and heap sizes, so its directory count and table start 16 bytes later.
        dirs = 96 if self.magic == PE32_MAGIC else 112
        if self.magic == PE32_MAGIC:
            self.image_base = self._u32(self.opt_offset + 28)
        else:
            self.image_base = struct.unpack_from("<Q", data, self.opt_offset + 24)[0]
        self.file_alignment = self._u32(self.opt_offset + 36)
        self.subsystem = self._u16(self.opt_offset + 68)
        self.dll_characteristics = self._u16(self.opt_offset + 70)
        self.directories_offset = self.opt_offset + dirs
        ndirs = self._u32(self.directories_offset - 4)
        self.directories = [struct.unpack_from("<II", data, self.directories_offset + 8 * i)
                            for i in range(min(ndirs, 16))]
        self.sections = []
        sec = self.opt_offset + opt_size
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            chars = self._u32(sec + 40 * i + 36)
            self.sections.append({"name": name.rstrip(b"\0").decode("latin-1"), "vsize": vsize,
                                  "va": va, "rawsize": rawsize, "rawptr": rawptr, "chars": chars})

    def _u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def _u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset_of(self, rva):
        for s in self.sections:
            if s["va"] <= rva < s["va"] + max(s["vsize"], s["rawsize"]):
                off = rva - s["va"]
                if off >= s["rawsize"]:
                    raise PeError("RVA 0x%x lies in uninitialised data" % rva)
                return s["rawptr"] + off
        raise PeError("RVA 0x%x is in no section" % rva)

    def cstring(self, rva):
        off = self.offset_of(rva)
        end = self.data.index(b"\0", off)
        return self.data[off:end].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def code_sections(self):
        return [s for s in self.sections if s["chars"] & SCN_CNT_CODE and s["rawsize"] > 0]

    def imported_dlls(self):
        """Names of the DLLs in the import table."""
        names = []
        rva, size = self.directory(DIR_IMPORT)
        if rva and size:
            off = self.offset_of(rva)
            while True:
                desc = struct.unpack_from("<IIIII", self.data, off)
                if not any(desc):
                    break
                names.append(self.cstring(desc[3]))
                off += 20
        return names

    def delay_descriptors(self):
        """The delay-import descriptors as (DLL name, IAT RVA, lookup table
        RVA). From the data directory where the linker fills it; ld 2.40
        leaves it empty, so the code sections, where dlltool puts its
        descriptors, are searched too: an RVA-based descriptor (attributes 1)
        whose name is a DLL name and whose bound-IAT, unload-IAT and time
        fields are 0."""
        candidates = []
        rva, size = self.directory(DIR_DELAY_IMPORT)
        if rva and size:
            off = self.offset_of(rva)
            while any(struct.unpack_from("<8I", self.data, off)):
                candidates.append(off)
                off += 32
        for s in self.code_sections():
            start, end = s["rawptr"], s["rawptr"] + min(s["rawsize"], s["vsize"] or s["rawsize"])
            at = self.data.find(b"\x01\0\0\0", start, end)
            while at >= 0:
                if (at - start) % 4 == 0 and at + 32 <= end:
                    candidates.append(at)
                at = self.data.find(b"\x01\0\0\0", at + 1, end)
        found = []
        for off in sorted(set(candidates)):
            attrs, name, module, iat, lookup, bound, unload, stamp = struct.unpack_from("<8I", self.data, off)
            if attrs != 1 or bound or unload or stamp:
                continue
            try:
                at = self.offset_of(name)
                dll = self.data[at:self.data.index(b"\0", at)]
                if not DLL_NAME.match(dll):
                    continue
                self.offset_of(module)
                self.offset_of(iat)
                self.offset_of(lookup)
            except (PeError, ValueError):
                continue
            found.append((dll.decode("latin-1"), iat, lookup))
        return found

    def delay_imports(self):
        """{DLL name: [(function, initial value of its delay IAT slot)]}."""
        slot = 4 if self.magic == PE32_MAGIC else 8
        result = {}
        for dll, iat, lookup in self.delay_descriptors():
            functions = result.setdefault(dll, [])
            i = 0
            while True:
                entry = self._slot(self.offset_of(lookup) + i * slot, slot)
                if entry == 0:
                    break
                ordinal = entry >> (slot * 8 - 1)
                function = "#%d" % (entry & 0xFFFF) if ordinal else self.cstring(entry + 2)
                functions.append((function, self._slot(self.offset_of(iat) + i * slot, slot)))
                i += 1
        return result

    def _slot(self, off, size):
        return struct.unpack_from("<I" if size == 4 else "<Q", self.data, off)[0]

    def in_code(self, va):
        rva = va - self.image_base
        return any(s["va"] <= rva < s["va"] + s["vsize"] for s in self.code_sections())

    def resources(self, places=None):
        """{(type, name, language): bytes}; type and name are an int id or
        an upper-case-as-stored string. PLACES: what resource_places()
        gave, for a caller that needs both, so the tree is walked once."""
        if places is None:
            places = self.resource_places()
        return {k: self.data[off:off + size] for k, (off, size) in places.items()}

    def resource_places(self):
        """{(type, name, language): (file offset, size)}."""
        rva, size = self.directory(DIR_RESOURCE)
        if not rva or not size:
            return {}
        base = self.offset_of(rva)
        found = {}

        def entries(dir_off):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_off + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + dir_off + 16 + 8 * i)
                if ident & 0x80000000:
                    noff = base + (ident & 0x7FFFFFFF)
                    n = self._u16(noff)
                    ident = self.data[noff + 2:noff + 2 + 2 * n].decode("utf-16-le")
                yield ident, target

        for rtype, t1 in entries(0):
            if not t1 & 0x80000000:
                continue
            for rname, t2 in entries(t1 & 0x7FFFFFFF):
                if not t2 & 0x80000000:
                    continue
                for lang, leaf in entries(t2 & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        continue
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                    found[(rtype, rname, lang)] = (self.offset_of(data_rva), data_size)
        return found
