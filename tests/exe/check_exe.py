#!/usr/bin/env python3
"""Static checks on a built RightClickDesktop.exe, read straight from the PE file.

    python3 tests/exe/check_exe.py --arch amd64 --require-import keybd_event build/win64/RightClickDesktop.exe

Prints one PASS/FAIL line per check with what was found, and exits 1 if any
check failed (2 on bad usage). Standard library only, so it runs wherever the
build runs.
"""

import argparse
import fnmatch
import struct
import sys
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field

ARCHES = {
    # --arch: (COFF machine, optional header magic)
    "i386": (0x014C, 0x10B),
    "amd64": (0x8664, 0x20B),
}
SUBSYSTEM_WINDOWS_GUI = 2

# The program looks these up by name at run time (system/external.cpp); a
# direct import means some code called them without going through that.
FORBIDDEN_IMPORTS = ("SetWindowsHookExA", "SetWindowsHookExW", "UnhookWindowsHookEx",
                     "CallNextHookEx", "GetLocalTime")

# The exe must start on a bare Windows: no compiler runtime DLLs next to it.
SYSTEM_DLL_PATTERNS = ("kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                       "comctl32.dll", "msvcrt.dll", "ucrtbase.dll", "api-ms-win-crt-*.dll")

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
ICON_NAME = "DEFAULT_ICON"
ICON_SIZES = [16, 32, 48]
FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD

DIR_IMPORT = 1
DIR_RESOURCE = 2


class PeError(Exception):
    """The file is not a PE image this checker can read."""


@dataclass
class Section:
    name: str
    virtual_address: int
    virtual_size: int
    raw_offset: int
    raw_size: int


@dataclass
class PeImage:
    data: bytes
    machine: int
    magic: int
    subsystem: int
    size_of_headers: int
    directories: list  # (rva, size) pairs
    sections: list = field(default_factory=list)

    def offset_of(self, rva, length=1):
        """File offset of an RVA, checking that length bytes are present in the file."""
        if rva + length <= self.size_of_headers:
            return rva
        for s in self.sections:
            span = max(s.virtual_size, s.raw_size)
            if s.virtual_address <= rva < s.virtual_address + span:
                delta = rva - s.virtual_address
                if delta + length > s.raw_size or s.raw_offset + delta + length > len(self.data):
                    raise PeError(f"RVA {rva:#x} lies outside the file data of section {s.name}")
                return s.raw_offset + delta
        raise PeError(f"RVA {rva:#x} is in no section")

    def read(self, rva, length):
        offset = self.offset_of(rva, length)
        return self.data[offset:offset + length]

    def unpack(self, fmt, rva):
        return struct.unpack_from(fmt, self.read(rva, struct.calcsize(fmt)))

    def ascii_at(self, rva, limit=512):
        offset = self.offset_of(rva)
        end = self.data.find(b"\0", offset, offset + limit)
        if end < 0:
            raise PeError(f"unterminated string at RVA {rva:#x}")
        return self.data[offset:end].decode("ascii", "replace")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)


def parse_pe(data):
    def unpack(fmt, offset):
        if offset + struct.calcsize(fmt) > len(data):
            raise PeError("file ends inside its headers")
        return struct.unpack_from(fmt, data, offset)

    if data[:2] != b"MZ":
        raise PeError("no MZ signature")
    (pe_offset,) = unpack("<I", 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, section_count, _, _, _, optional_size, _ = unpack("<HHIIIHH", pe_offset + 4)
    optional = pe_offset + 24
    (magic,) = unpack("<H", optional)
    if magic == 0x10B:
        directory_start = optional + 96
    elif magic == 0x20B:
        directory_start = optional + 112  # ImageBase and the stack sizes are 8 bytes wide
    else:
        raise PeError(f"unknown optional header magic {magic:#x}")
    (size_of_headers,) = unpack("<I", optional + 60)
    (subsystem,) = unpack("<H", optional + 68)
    (directory_count,) = unpack("<I", directory_start - 4)
    # Never trust the count beyond what the optional header has room for.
    directory_count = min(directory_count, (optional + optional_size - directory_start) // 8)
    directories = [unpack("<II", directory_start + 8 * i) for i in range(directory_count)]

    image = PeImage(data, machine, magic, subsystem, size_of_headers, directories)
    table = optional + optional_size
    for i in range(section_count):
        name, vsize, vaddr, rsize, roffset = unpack("<8sIIII", table + 40 * i)
        name = name.rstrip(b"\0").decode("ascii", "replace")
        # The loader maps every section and refuses a file that ends before one does.
        if rsize and roffset + rsize > len(data):
            raise PeError(f"section {name} runs past the end of the file")
        image.sections.append(Section(name, vaddr, vsize, roffset, rsize))
    return image


# --- Imports ---------------------------------------------------------------

def _thunk_names(image, table_rva):
    """Function names (or "#ordinal") listed in an import name table."""
    pe32plus = image.magic == 0x20B
    entry_size, ordinal_flag = (8, 1 << 63) if pe32plus else (4, 1 << 31)
    names = []
    rva = table_rva
    while True:
        (entry,) = image.unpack("<Q" if pe32plus else "<I", rva)
        if entry == 0:
            return names
        if entry & ordinal_flag:
            names.append(f"#{entry & 0xFFFF}")
        else:
            names.append(image.ascii_at((entry & 0x7FFFFFFF) + 2))  # skip the hint
        rva += entry_size


def read_imports(image):
    """{dll name as written: [function names]} from the import table."""
    imports = {}
    rva, size = image.directory(DIR_IMPORT)
    if rva and size:
        while True:
            name_table, _, _, dll_rva, address_table = image.unpack("<IIIII", rva)
            if not (name_table or dll_rva or address_table):
                break
            dll = image.ascii_at(dll_rva)
            imports.setdefault(dll, []).extend(_thunk_names(image, name_table or address_table))
            rva += 20
    return imports


def is_system_dll(name):
    name = name.lower()
    if "." not in name:
        name += ".dll"  # the loader adds it too
    return any(fnmatch.fnmatchcase(name, pattern) for pattern in SYSTEM_DLL_PATTERNS)


# --- Resources -------------------------------------------------------------

def read_resources(image):
    """{type: {name: {language: bytes}}}; ids are ints, names upper-case strings."""
    root, size = image.directory(DIR_RESOURCE)
    if not (root and size):
        return {}

    def key(raw):
        if raw & 0x80000000:
            offset = root + (raw & 0x7FFFFFFF)
            (length,) = image.unpack("<H", offset)
            # Windows compares resource names case-insensitively.
            return image.read(offset + 2, 2 * length).decode("utf-16-le").upper()
        return raw

    def walk(offset, depth):
        _, _, _, _, named, ids = image.unpack("<IIHHHH", root + offset)
        result = {}
        for i in range(named + ids):
            raw_name, target = image.unpack("<II", root + offset + 16 + 8 * i)
            is_directory = bool(target & 0x80000000)
            if is_directory != (depth < 2):
                raise PeError("resource tree is not three levels deep")
            if is_directory:
                result[key(raw_name)] = walk(target & 0x7FFFFFFF, depth + 1)
            else:
                data_rva, data_size, _, _ = image.unpack("<IIII", root + target)
                result[key(raw_name)] = image.read(data_rva, data_size)
        return result

    return walk(0, 0)


def first_language(entry):
    """The data of a resource in whichever language it was stored."""
    return next(iter(entry.values())) if entry else None


def icon_image_size(data):
    """(width, height) of an RT_ICON image, stored as PNG or as a DIB."""
    if data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) >= 24:
        return struct.unpack_from(">II", data, 16)
    if len(data) >= 12:
        width, height = struct.unpack_from("<ii", data, 4)
        return width, height // 2  # the height covers the colour and mask rows
    return None


# --- Checks ----------------------------------------------------------------

@dataclass
class Check:
    name: str
    ok: bool
    found: str


def check_header(image, arch):
    machine, magic = ARCHES[arch]
    return [
        Check("machine", image.machine == machine, f"{image.machine:#06x}, want {machine:#06x}"),
        Check("optional header magic", image.magic == magic, f"{image.magic:#x}, want {magic:#x}"),
        Check("subsystem", image.subsystem == SUBSYSTEM_WINDOWS_GUI,
              f"{image.subsystem}, want {SUBSYSTEM_WINDOWS_GUI} (Windows GUI)"),
    ]


def check_imports(imports, required):
    checks = []
    forbidden = sorted({f"{dll}!{name}" for dll, names in imports.items()
                        for name in names if name in FORBIDDEN_IMPORTS})
    checks.append(Check("no direct hook or clock imports", not forbidden,
                        ", ".join(forbidden) or "none of " + ", ".join(FORBIDDEN_IMPORTS)))
    foreign = sorted(dll for dll in imports if not is_system_dll(dll))
    checks.append(Check("only system DLLs", not foreign,
                        "not system: " + ", ".join(foreign) if foreign else ", ".join(sorted(imports))))
    for wanted in required:
        # "user32.dll!keybd_event" pins the DLL; a bare name may come from any.
        dll_wanted, _, name = wanted.rpartition("!")
        sources = sorted(dll for dll, names in imports.items() if name in names
                         and (not dll_wanted or dll.lower() == dll_wanted.lower()))
        checks.append(Check(f"imports {wanted}", bool(sources),
                            "from " + ", ".join(sources) if sources else "not imported"))
    return checks


def check_icon(resources):
    groups = resources.get(RT_GROUP_ICON, {})
    group = first_language(groups.get(ICON_NAME))
    if group is None:
        names = ", ".join(str(n) for n in groups) or "none"
        return [Check(f"icon group {ICON_NAME}", False, f"icon groups: {names}")]
    checks = [Check(f"icon group {ICON_NAME}", True, f"{len(group)} bytes")]

    if len(group) < 6:
        return checks + [Check("icon sizes", False, "group header truncated")]
    _, kind, count = struct.unpack_from("<HHH", group)
    if kind != 1 or len(group) < 6 + 14 * count:
        return checks + [Check("icon sizes", False, f"type {kind}, {count} entries in {len(group)} bytes")]
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    sizes = [(width or 256, height or 256) for width, height, *_ in entries]
    checks.append(Check("icon sizes", sorted(sizes) == [(s, s) for s in ICON_SIZES],
                        ", ".join(f"{w}x{h}" for w, h in sizes) + f"; want {ICON_SIZES}"))

    icons = resources.get(RT_ICON, {})
    problems = []
    for (w, h), entry in zip(sizes, entries):
        icon_id, declared = entry[7], entry[6]
        data = first_language(icons.get(icon_id))
        if data is None:
            problems.append(f"id {icon_id} missing")
        elif icon_image_size(data) != (w, h) or declared != len(data):
            problems.append(f"id {icon_id} is {icon_image_size(data)} in {len(data)} bytes,"
                            f" group says {w}x{h} in {declared}")
    ids = ", ".join(str(e[7]) for e in entries)
    checks.append(Check("icon images present", not problems, "; ".join(problems) or f"ids {ids}"))
    return checks


def check_manifest(resources):
    data = first_language(resources.get(RT_MANIFEST, {}).get(1))
    if data is None:
        return [Check("manifest", False, "no RT_MANIFEST id 1")]
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        # Windows refuses to start an exe whose manifest does not parse.
        return [Check("manifest", False, f"not well-formed XML: {error}")]
    controls = [e.attrib for e in root.iter() if e.tag.rpartition("}")[2] == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    ok = any(a.get("version") == "6.0.0.0" for a in controls)
    found = ", ".join(f"Common-Controls version {a.get('version')}" for a in controls)
    return [Check("manifest", ok, found or "no Microsoft.Windows.Common-Controls dependency")]


def check_version(resources):
    versions = resources.get(RT_VERSION, {})
    data = first_language(next(iter(versions.values()))) if versions else None
    if data is None:
        return [Check("version info", False, "no RT_VERSION")]
    # VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO\0" in UTF-16, padding to 4 bytes.
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    start = (6 + len(key) + 3) & ~3
    if data[6:6 + len(key)] != key or len(data) < start + 52:
        return [Check("version info", False, "no VS_VERSION_INFO block")]
    signature, _, ms, ls = struct.unpack_from("<IIII", data, start)
    version = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    return [Check("version info", signature == FIXEDFILEINFO_SIGNATURE,
                  f"signature {signature:#010x}, file version {version}")]


def run_checks(data, arch, required=()):
    """All checks on the bytes of an exe, in the order they are printed."""
    try:
        image = parse_pe(data)
        checks = check_header(image, arch)
        checks += check_imports(read_imports(image), required)
        resources = read_resources(image)
    except (PeError, struct.error, UnicodeDecodeError) as error:
        return [Check("readable PE file", False, str(error))]
    return checks + check_icon(resources) + check_manifest(resources) + check_version(resources)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", required=True, choices=sorted(ARCHES))
    parser.add_argument("--require-import", action="append", default=[], metavar="[DLL!]NAME",
                        help="fail unless this function is imported (repeatable)")
    parser.add_argument("exe")
    args = parser.parse_args(argv)
    try:
        with open(args.exe, "rb") as f:
            data = f.read()
    except OSError as error:
        print(f"FAIL readable PE file: {error}")
        return 1
    checks = run_checks(data, args.arch, args.require_import)
    for check in checks:
        print(f"{'PASS' if check.ok else 'FAIL'} {check.name}: {check.found}")
    failed = sum(not c.ok for c in checks)
    print(f"{args.exe}: {'all checks passed' if not failed else f'{failed} check(s) failed'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
