#!/usr/bin/env python3
"""set-pe-load-config.py NM LINKED EXE: points EXE's load configuration directory
(data directory 10) at its _load_config_used structure (resources/windows/
dll-search.c), which GNU ld leaves unset, and checks the structure's
DependentLoadFlags. EXE is LINKED, perhaps stripped: the cross toolchain's NM
reads the symbol's address from LINKED (stripping moves no section)."""

import struct
import subprocess
import sys

LOAD_CONFIG_ENTRY = 10
SEARCH_SYSTEM32 = 0x800  # LOAD_LIBRARY_SEARCH_SYSTEM32
DEPENDENT_LOAD_FLAGS_OFFSET = 0x4E

nm, linked, path = sys.argv[1], sys.argv[2], sys.argv[3]
symbols = subprocess.run([nm, linked], check=True, capture_output=True, text=True).stdout
address = next(int(line.split()[0], 16) for line in symbols.splitlines() if line.endswith(" _load_config_used"))

with open(path, "r+b") as exe:
    image = bytearray(exe.read())
    header = struct.unpack_from("<I", image, 0x3C)[0]
    optional = header + 24
    sections = optional + struct.unpack_from("<H", image, header + 20)[0]
    if image[header:header + 4] != b"PE\0\0" or struct.unpack_from("<H", image, optional)[0] != 0x20B:
        sys.exit(f"{path}: not a 64-bit PE image")
    rva = address - struct.unpack_from("<Q", image, optional + 24)[0]

    # The structure's file offset, from the section that holds it.
    for index in range(struct.unpack_from("<H", image, header + 6)[0]):
        size, start, _, raw = struct.unpack_from("<IIII", image, sections + 40 * index + 8)
        if start <= rva < start + size:
            offset = raw + rva - start
            break
    else:
        sys.exit(f"{path}: _load_config_used lies in no section")

    config_size = struct.unpack_from("<I", image, offset)[0]
    flags = struct.unpack_from("<H", image, offset + DEPENDENT_LOAD_FLAGS_OFFSET)[0]
    if flags != SEARCH_SYSTEM32 or config_size <= DEPENDENT_LOAD_FLAGS_OFFSET:
        sys.exit(f"{path}: _load_config_used holds DependentLoadFlags {flags:#x} in {config_size} bytes")

    struct.pack_into("<II", image, optional + 112 + 8 * LOAD_CONFIG_ENTRY, rva, config_size)
    exe.seek(0)
    exe.write(image)
