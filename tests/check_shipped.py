#!/usr/bin/env python3
"""check_shipped.py EXE: checks the executable we ship without running it, so that machines whose Wine cannot
start 32-bit programs still check the 32-bit product: an x86 PE32 GUI program with ASLR and DEP that can use
more than 2 GB of address space, an
application manifest that asks for the process's own architecture of Common Controls, a version resource, an
icon, and a dialog and a string table in each of the 25 languages, nothing else."""
import re
import struct
import sys

LANGUAGES = {1028, 1029, 1030, 1031, 1033, 1035, 1036, 1040, 1041, 1042, 1043, 1045, 1046,
             1049, 1053, 1054, 1055, 1057, 1065, 1066, 1086, 2052, 2068, 2070, 3082}
RT_STRING, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 6, 5, 14, 16, 24
IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64, PE32_MAGIC, IMAGE_SUBSYSTEM_WINDOWS_GUI = 0x14C, 0x8664, 0x10B, 2
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100
LARGE_ADDRESS_AWARE = 0x0020


def resources(image):
    """{type id: {name id: set of languages}} from the resource directory; named entries are kept by name.
    The header's "manifest" holds the bytes of the first application manifest, if any."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    machine, sections, _, _, _, optional_size, characteristics = struct.unpack_from("<HHIIIHH", image, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    subsystem, dll_flags = struct.unpack_from("<HH", image, optional + 68)
    directories = optional + (96 if magic == PE32_MAGIC else 112)
    rsrc_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]
    table = optional + optional_size
    rsrc_offset = None
    for i in range(sections):
        _, _, virtual_address, raw_size, raw_pointer = struct.unpack_from("<8sIIII", image, table + 40 * i)
        if virtual_address <= rsrc_rva < virtual_address + raw_size:
            rsrc_offset = raw_pointer + rsrc_rva - virtual_address
    header = {"machine": machine, "magic": magic, "subsystem": subsystem, "dll_flags": dll_flags,
              "characteristics": characteristics, "manifest": b""}
    if rsrc_offset is None:
        return header, {}

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, rsrc_offset + directory + 12)
        for i in range(named + numbered):
            key, target = struct.unpack_from("<II", image, rsrc_offset + directory + 16 + 8 * i)
            if key & 0x80000000:
                at = rsrc_offset + (key & 0x7FFFFFFF)
                length = struct.unpack_from("<H", image, at)[0]
                key = image[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield key, target & 0x7FFFFFFF, bool(target & 0x80000000)

    found = {}
    for kind, names, is_directory in entries(0):
        if not is_directory:
            continue
        for name, languages, is_directory in entries(names):
            if is_directory:
                found.setdefault(kind, {})[name] = {language for language, _, _ in entries(languages)}
                if kind == RT_MANIFEST and not header["manifest"]:
                    for _, data, leaf_is_directory in entries(languages):
                        if not leaf_is_directory:
                            data_rva, size = struct.unpack_from("<II", image, rsrc_offset + data)
                            at = rsrc_offset + data_rva - rsrc_rva
                            header["manifest"] = image[at:at + size]
                            break
    return header, found


def manifest_problems(manifest, machine):
    """A 64-bit process that is given the x86 Common Controls fails to load them wherever the system holds both
    sides (64-bit Windows, a Wine prefix with its 32-bit side): the dependency must say "*", and the program's
    own identity its architecture or "*"."""
    text = manifest.decode("utf-8", "replace")
    identities = re.findall(r"<assemblyIdentity\b[^>]*>", text)
    architecture = lambda identity: (re.findall(r'processorArchitecture="([^"]*)"', identity) or [None])[0]
    own = {IMAGE_FILE_MACHINE_I386: "x86", IMAGE_FILE_MACHINE_AMD64: "amd64"}.get(machine)
    for identity in identities:
        if "Microsoft.Windows.Common-Controls" in identity:
            if architecture(identity) != "*":
                yield 'manifest asks for Common Controls of architecture "%s", not "*"' % architecture(identity)
        elif architecture(identity) not in (own, "*", None):
            yield 'manifest names the program "%s", not "%s"' % (architecture(identity), own)
    if not any("Microsoft.Windows.Common-Controls" in identity for identity in identities):
        yield "manifest does not ask for Common Controls 6"


def problems(path):
    with open(path, "rb") as f:
        image = f.read()
    header, found = resources(image)
    if header["machine"] != IMAGE_FILE_MACHINE_I386 or header["magic"] != PE32_MAGIC:
        yield "not a 32-bit x86 program (machine 0x%X, optional header 0x%X)" % (header["machine"], header["magic"])
    if header["subsystem"] != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        yield "subsystem %d, not a GUI program" % header["subsystem"]
    for flag, name in ((DYNAMIC_BASE, "ASLR (dynamic base)"), (NX_COMPAT, "DEP (NX compatible)")):
        if not header["dll_flags"] & flag:
            yield "built without " + name
    if not header["characteristics"] & LARGE_ADDRESS_AWARE:
        yield "not large-address-aware (2 GB of address space for an installer held in memory)"
    for kind, what in ((RT_MANIFEST, "application manifest"), (RT_VERSION, "version resource"),
                       (RT_GROUP_ICON, "icon")):
        if not found.get(kind):
            yield "no " + what
    if found.get(RT_MANIFEST):
        yield from manifest_problems(header["manifest"], header["machine"])
    for kind, what in ((RT_DIALOG, "dialog"), (RT_STRING, "string table")):
        languages = set().union(*found.get(kind, {}).values())
        if languages != LANGUAGES:
            yield "%s languages: missing %s, unexpected %s" % (
                what, sorted(LANGUAGES - languages), sorted(languages - LANGUAGES))
        for name, each in sorted(found.get(kind, {}).items(), key=str):
            if kind == RT_DIALOG and each != LANGUAGES:
                yield "dialog %s is missing in %s" % (name, sorted(LANGUAGES - each))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    try:
        found = list(problems(sys.argv[1]))
    except (OSError, ValueError, struct.error) as error:
        found = ["cannot read it: %s" % error]
    for problem in found:
        print("%s: %s" % (sys.argv[1], problem), file=sys.stderr)
    if not found:
        print("%s: PE32 x86 GUI program, 25 languages" % sys.argv[1])
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
