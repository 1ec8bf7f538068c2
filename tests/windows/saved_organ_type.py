#!/usr/bin/python3
"""Prints the organ type (0 to 3) in the state a JUCE Standalone saved in its
settings file when it closed.

    saved_organ_type.py SETTINGS

The settings file is XML; the plug-in's state is the "filterState" value in
JUCE's own base-64 form ("<size>.<characters>", six bits a character, the
lowest first, from its own alphabet), and that state is the plug-in's XML
behind JUCE's eight-byte binary header.
"""
import re
import sys
import xml.etree.ElementTree as ET

JUCE_BASE64 = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"


def decode(text):
    size, _, characters = text.partition(".")
    bits = 0
    for i, c in enumerate(characters):
        bits |= JUCE_BASE64.index(c) << (6 * i)
    return bits.to_bytes(int(size) + 1, "little")[:int(size)]


def main():
    root = ET.parse(sys.argv[1]).getroot()
    state = next(v.get("val") for v in root.iter("VALUE") if v.get("name") == "filterState")
    xml = decode(state)[8:].rstrip(b"\0").decode("utf-8")
    match = re.search(r'id="organType"\s+value="([-0-9.]+)"', xml)
    if not match:
        print(f"no organ type in the saved state: {xml[:200]}", file=sys.stderr)
        return 1
    print(int(float(match.group(1))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
