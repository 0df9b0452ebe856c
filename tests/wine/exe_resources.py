#!/usr/bin/env python3
"""Reads the resources back from the built Windows exes (no wine needed): the
icon in several sizes, the version information with the product name, the
VERSION file's version and LICENSE's copyright line, and the manifest with its
DPI awareness and supported Windows versions.

Usage: exe_resources.py --source SOURCE_DIR --exe Tinselbay.exe [--exe64 win64/Tinselbay.exe]
A missing exe fails the test."""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
ICON_SIZES = {16, 32, 48, 256}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


class Failure(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failure(text)
    print("ok: " + text)


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def read_pe(data):
    """The machine name and {type: {id: bytes}} of the first language of each resource."""
    check(data[:2] == b"MZ", "an MZ header")
    pe = u32(data, 0x3C)
    check(data[pe : pe + 4] == b"PE\0\0", "a PE header")
    machine, sections, optional_size = u16(data, pe + 4), u16(data, pe + 6), u16(data, pe + 20)
    optional = pe + 24
    directories = optional + {0x10B: 96, 0x20B: 112}[u16(data, optional)]
    resource_rva = u32(data, directories + 2 * 8)
    table = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise Failure("resource address %#x lies in no section" % rva)

    if resource_rva == 0:
        return MACHINES.get(machine, hex(machine)), {}
    base = offset(resource_rva)

    def entries(at):
        count = u16(data, base + at + 12) + u16(data, base + at + 14)
        for i in range(count):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            yield name, target

    resources = {}
    for kind, kind_dir in entries(0):
        for name, name_dir in entries(kind_dir & 0x7FFFFFFF):
            _, leaf = next(entries(name_dir & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", data, base + leaf)
            resources.setdefault(kind, {})[name] = data[offset(rva) : offset(rva) + size]
    return MACHINES.get(machine, hex(machine)), resources


def version_blocks(data, at=0, end=None):
    """The blocks of a version resource: yields (key, value bytes, children start, block end)."""
    end = len(data) if end is None else end
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end : key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6 : key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        yield key, data[value_at : value_at + value_size], (value_at + value_size + 3) & ~3, at + length
        at = (at + length + 3) & ~3


def version_strings(data):
    root = next(version_blocks(data))
    fixed = struct.unpack_from("<13I", root[1])
    strings = {}
    for key, _, children, end in version_blocks(data, root[2], root[3]):
        if key == "StringFileInfo":
            for _, _, table_children, table_end in version_blocks(data, children, end):
                for name, value, _, _ in version_blocks(data, table_children, table_end):
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return fixed, strings


def check_exe(path, version, copyright_line):
    print("--- %s" % path)
    if not os.path.isfile(path):
        raise Failure("no Windows build at %s (scripts/build-windows.sh makes it)" % path)
    with open(path, "rb") as f:
        machine, resources = read_pe(f.read())
    print("machine: %s" % machine)

    groups = resources.get(RT_GROUP_ICON, {})
    check(len(groups) == 1, "one icon group")
    group = next(iter(groups.values()))
    sizes = set()
    for i in range(u16(group, 4)):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        side = width or 256
        image = resources.get(RT_ICON, {}).get(icon_id, b"")
        check(len(image) == size and height == width and bits == 32, "a 32-bit %d pixel icon" % side)
        if image[:8] == b"\x89PNG\r\n\x1a\n":
            check(struct.unpack_from(">II", image, 16) == (side, side), "its PNG is %d x %d" % (side, side))
        else:
            header = struct.unpack_from("<IiiHH", image)
            check(header == (40, side, 2 * side, 1, 32), "its bitmap is %d x %d with a mask" % (side, side))
        sizes.add(side)
    check(ICON_SIZES <= sizes, "icons of %s pixels among %s" % (sorted(ICON_SIZES), sorted(sizes)))

    versions = resources.get(RT_VERSION, {})
    check(len(versions) == 1, "version information")
    fixed, strings = version_strings(next(iter(versions.values())))
    numbers = [int(part) for part in version.split(".")] + [0] * 3
    packed = ((numbers[0] << 16) | numbers[1], (numbers[2] << 16) | numbers[3])
    check(fixed[0] == 0xFEEF04BD and fixed[2:4] == packed and fixed[4:6] == packed, "file and product version %s" % version)
    for name, expected in (("ProductName", "Tinselbay"), ("ProductVersion", version), ("FileVersion", version),
                           ("LegalCopyright", copyright_line), ("OriginalFilename", "Tinselbay.exe")):
        check(strings.get(name) == expected, "%s %r (found %r)" % (name, expected, strings.get(name)))
    check(len(strings.get("FileDescription", "")) > len("Tinselbay"), "a description: %r" % strings.get("FileDescription"))

    manifests = resources.get(RT_MANIFEST, {})
    check(list(manifests) == [1], "the process manifest (resource 1)")
    root = ElementTree.fromstring(manifests[1])
    found = {element.tag.split("}")[1]: (element.text or "").strip() for element in root.iter() if "}" in element.tag}
    check(found.get("dpiAware", "").lower() == "true/pm", "dpiAware true/pm")
    awareness = [part.strip() for part in found.get("dpiAwareness", "").split(",")]
    check(awareness[:1] == ["PerMonitorV2"] and "PerMonitor" in awareness, "dpiAwareness PerMonitorV2, falling back to PerMonitor")
    ids = {element.get("Id").lower() for element in root.iter() if element.tag.endswith("}supportedOS")}
    check(set(SUPPORTED_OS) <= ids, "supported: Windows %s" % ", ".join(SUPPORTED_OS.values()))
    return machine


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the source tree, for VERSION and LICENSE")
    parser.add_argument("--exe", required=True, help="the 32-bit exe")
    parser.add_argument("--exe64", help="the 64-bit exe")
    args = parser.parse_args()
    with open(os.path.join(args.source, "VERSION")) as f:
        version = f.readline().strip()
    with open(os.path.join(args.source, "LICENSE")) as f:
        copyright_line = next(line.strip() for line in f if line.startswith("Copyright "))
    try:
        check(check_exe(args.exe, version, copyright_line) == "i386", "the 32-bit exe is built for i386")
        if args.exe64:
            check(check_exe(args.exe64, version, copyright_line) == "x86-64", "the 64-bit exe is built for x86-64")
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("PASS: icon, version information and manifest in every exe")
    return 0


if __name__ == "__main__":
    sys.exit(main())
