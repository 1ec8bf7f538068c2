#!/usr/bin/python3
"""Checks the Windows files of the build as Windows reads them (with pefile).

    check_module.py --company NAME --product NAME --version X.Y.Z MODULE [PROGRAM...]

MODULE (the VST3 module inside the bundle) exports GetPluginFactory, InitDll and
ExitDll, and its version resource names the company, the product and the
module file's version. MODULE and every PROGRAM import Windows system DLLs only:
the C and C++ runtimes and winpthread are linked in.
"""
import argparse
import sys

import pefile

EXPORTS = {"GetPluginFactory", "InitDll", "ExitDll"}

# DLLs that come with every Windows since 7 (and with Wine); the Universal C
# runtime's api-ms-win-crt-* forwarders are among them from Windows 10 on.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "d2d1.dll", "dwrite.dll", "dxgi.dll",
    "gdi32.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "opengl32.dll",
    "rpcrt4.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll", "winmm.dll", "wininet.dll",
    "ws2_32.dll", "wsock32.dll", "ntdll.dll", "dwmapi.dll", "uxtheme.dll", "setupapi.dll", "hid.dll",
}

DIRECTORIES = [pefile.DIRECTORY_ENTRY[name] for name in
               ("IMAGE_DIRECTORY_ENTRY_EXPORT", "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")]


def load(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=DIRECTORIES)
    return pe


def exports(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        return set()
    return {s.name.decode() for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name}


def imports(pe):
    return sorted({entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])})


def version_resource(pe):
    """The fixed file version and the strings of the version resource."""
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        raise ValueError("no version resource")
    fixed = pe.VS_FIXEDFILEINFO[0]
    version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
               fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return version, strings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--company", required=True)
    parser.add_argument("--product", required=True)
    parser.add_argument("--version", required=True, help="the module file's version, X.Y.Z")
    parser.add_argument("module")
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()
    failures = []

    module = load(args.module)
    found = exports(module)
    print(f"module exports: {', '.join(sorted(found))}")
    if not EXPORTS <= found:
        failures.append(f"the module does not export {', '.join(sorted(EXPORTS - found))}")

    for path in [args.module] + args.programs:
        dlls = imports(module if path == args.module else load(path))
        print(f"{path.rsplit('/', 1)[-1]} imports: {', '.join(dlls)}")
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
        if foreign:
            failures.append(f"{path} imports DLLs that are not part of Windows: {', '.join(foreign)}")

    expected_strings = {"CompanyName": args.company, "FileDescription": args.product, "ProductName": args.product,
                        "FileVersion": args.version, "ProductVersion": args.version}
    expected_version = tuple(int(n) for n in args.version.split(".")) + (0,)
    try:
        file_version, strings = version_resource(module)
        print(f"version resource: {'.'.join(map(str, file_version))}, "
              + ", ".join(f"{k} \"{v}\"" for k, v in sorted(strings.items())))
        if file_version != expected_version:
            failures.append(f"file version {file_version}, expected {expected_version}")
        for name, expected in expected_strings.items():
            if strings.get(name) != expected:
                failures.append(f"{name} is {strings.get(name)!r}, expected {expected!r}")
    except (ValueError, pefile.PEFormatError) as e:
        failures.append(f"the module's version resource cannot be read: {e}")

    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
