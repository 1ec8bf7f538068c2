#!/usr/bin/env python3
"""Checks the Windows files of the build as Windows reads them.

    check_module.py --objdump OBJDUMP MODULE [PROGRAM...]

MODULE (the VST3 module inside the bundle) exports GetPluginFactory, InitDll and
ExitDll, and its version resource names the company, the product and the
module's version. MODULE and every PROGRAM import Windows system DLLs only: the
C and C++ runtimes and winpthread are linked in.
"""
import argparse
import struct
import subprocess
import sys

EXPORTS = {"GetPluginFactory", "InitDll", "ExitDll"}
VERSION_STRINGS = {
    "CompanyName": "Orrinmoor",
    "FileDescription": "Brassgate Organ",
    "ProductName": "Brassgate Organ",
    "FileVersion": "3.0.0",
    "ProductVersion": "3.0.0",
}
FIXED_VERSION = (3, 0, 0, 0)

# DLLs that come with every Windows since 7 (and with Wine); the Universal C
# runtime's api-ms-win-crt-* forwarders are among them from Windows 10 on.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "d2d1.dll", "dwrite.dll", "dxgi.dll",
    "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "opengl32.dll",
    "rpcrt4.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll", "winmm.dll", "wininet.dll",
    "ws2_32.dll", "wsock32.dll", "ntdll.dll", "dwmapi.dll", "uxtheme.dll", "setupapi.dll", "hid.dll",
}


def objdump(tool, path):
    return subprocess.run([tool, "-p", path], check=True, capture_output=True, text=True).stdout


def imports(dump):
    return sorted({line.split(":", 1)[1].strip().lower() for line in dump.splitlines()
                   if line.strip().startswith("DLL Name:")})


def exports(dump):
    names, inside = set(), False
    for line in dump.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            inside = True
        elif inside and line.strip().startswith("["):
            names.add(line.split("]", 1)[1].strip())
        elif inside and not line.strip():
            inside = False
    return names


def version_resource(data):
    """The fixed version numbers and the strings of the PE file's version resource."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    sections = []
    for i in range(sections_count):
        s = optional + optional_size + 40 * i
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, s + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section")

    base = offset(resource_rva)

    def first_entry(table, wanted_id=None):
        named, numbered = struct.unpack_from("<HH", data, table + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, table + 16 + 8 * i)
            if wanted_id is None or (not name & 0x80000000 and name == wanted_id):
                return target
        raise ValueError("no version resource")

    node = first_entry(base, 16)  # RT_VERSION
    while node & 0x80000000:
        node = first_entry(base + (node & 0x7FFFFFFF))
    data_rva, size = struct.unpack_from("<II", data, base + node)
    blob = data[offset(data_rva):offset(data_rva) + size]

    def parse(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end = at + length
        key_end = blob.index(b"\0\0", at + 6)
        while (key_end - at - 6) % 2:
            key_end = blob.index(b"\0\0", key_end + 1)
        key = blob[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = blob[value_at:value_at + value_bytes]
        children, child = [], (value_at + value_bytes + 3) & ~3
        while child < end:
            children.append(parse(child))
            child = (child + struct.unpack_from("<H", blob, child)[0] + 3) & ~3
        return key, kind, value, children

    key, _, fixed, children = parse(0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52:
        raise ValueError("malformed version resource")
    ms, ls = struct.unpack_from("<II", fixed, 8)
    file_version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for child_key, _, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, entries in tables:
                for name, _, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return file_version, strings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("module")
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()
    failures = []

    dump = objdump(args.objdump, args.module)
    found = exports(dump)
    print(f"module exports: {', '.join(sorted(found))}")
    if not EXPORTS <= found:
        failures.append(f"the module does not export {', '.join(sorted(EXPORTS - found))}")

    for path in [args.module] + args.programs:
        dlls = imports(dump if path == args.module else objdump(args.objdump, path))
        print(f"{path.rsplit('/', 1)[-1]} imports: {', '.join(dlls)}")
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
        if foreign:
            failures.append(f"{path} imports DLLs that are not part of Windows: {', '.join(foreign)}")

    try:
        with open(args.module, "rb") as f:
            file_version, strings = version_resource(f.read())
        print(f"version resource: {'.'.join(map(str, file_version))}, "
              + ", ".join(f"{k} \"{v}\"" for k, v in sorted(strings.items())))
        if file_version != FIXED_VERSION:
            failures.append(f"file version {file_version}, expected {FIXED_VERSION}")
        for name, expected in VERSION_STRINGS.items():
            if strings.get(name) != expected:
                failures.append(f"{name} is {strings.get(name)!r}, expected {expected!r}")
    except (ValueError, IndexError, struct.error) as e:
        failures.append(f"the module's version resource cannot be read: {e}")

    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
