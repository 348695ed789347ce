#!/usr/bin/env python3
"""Checks a built Setup.exe and prints each section's size.

    check-image.py <exe> [max-bytes]

It imports by name, and only from the platform's known system DLLs, which are
never looked for beside the program (no C++ runtime, libgcc, winpthread,
version or common-controls DLL); it has only the sections the program's own
code and data make (no .tls or .CRT of the C runtime's start-up, no unwind
sections on i686); ASLR with its relocations and NX are on; its header keeps
the program's values: file alignment 512, subsystem version 4.0 (x64: 5.2),
a 2 MB stack reserve, no terminal-server awareness; no section is both
writable and executable (read-only data is linked into the code's section). With max-bytes, it is at
most that large. It also prints the bytes of the language texts (the TEXTS
resource; tools/texts/pack_texts.py tells what each language adds).
"""
import struct
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comdlg32.dll", "ole32.dll",
                "oleaut32.dll", "msvcrt.dll", "shell32.dll"}
SECTIONS = {".text", ".rdata", ".data", ".bss", ".idata", ".rsrc", ".reloc"}
X64_SECTIONS = {".pdata", ".xdata"}  # unwind data the x64 platform may need
DYNAMIC_BASE, NX_COMPAT, HIGH_ENTROPY_VA, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x20, 0x8000


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    path = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) == 3 else None
    data = open(path, "rb").read()
    problems = []

    def need(ok, what):
        if not ok:
            problems.append(what)

    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("%s: not a PE image" % path)
    machine, count = struct.unpack_from("<HH", data, pe + 4)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    wide = struct.unpack_from("<H", data, opt)[0] == 0x20B
    file_alignment = struct.unpack_from("<I", data, opt + 36)[0]
    subsystem = struct.unpack_from("<HH", data, opt + 48)
    flags = struct.unpack_from("<H", data, opt + 70)[0]
    stack = struct.unpack_from("<Q" if wide else "<I", data, opt + 72)[0]
    directories = opt + (112 if wide else 96)
    imports_rva = struct.unpack_from("<I", data, directories + 8)[0]
    relocs_size = struct.unpack_from("<I", data, directories + 5 * 8 + 4)[0]

    sections = []
    at = opt + optional_size
    for i in range(count):
        name, vsize, rva, raw, raw_at = struct.unpack_from("<8sIIII", data, at + 40 * i)
        sections.append((name.rstrip(b"\0").decode("latin-1"), vsize, rva, raw, raw_at))
        characteristics = struct.unpack_from("<I", data, at + 40 * i + 36)[0]
        # Read-only data may share the code's section; code is never writable.
        need(not (characteristics & 0x20000000 and characteristics & 0x80000000),
             "section %s is both writable and executable" % sections[-1][0])
    print("%s: %d bytes" % (path, len(data)))
    for name, vsize, _, raw, _ in sections:
        print("  %-8s %6d bytes in the file, %6d in memory" % (name, raw, vsize))

    def offset(rva):
        for _, vsize, start, raw, raw_at in sections:
            if start <= rva < start + max(vsize, raw):
                return raw_at + rva - start
        raise ValueError("address %#x is in no section" % rva)

    def text(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("latin-1")

    allowed = SECTIONS | (X64_SECTIONS if wide else set())
    for name, *_ in sections:
        need(name in allowed, "unexpected section %s" % name)
    need(relocs_size > 0 and any(s[0] == ".reloc" for s in sections), "no relocations: ASLR cannot move it")
    need(flags & DYNAMIC_BASE, "ASLR (dynamic base) is off")
    need(flags & NX_COMPAT, "NX compatibility is off")
    need(not flags & TERMINAL_SERVER_AWARE, "marked terminal-server aware")
    if wide:
        need(flags & HIGH_ENTROPY_VA, "high-entropy ASLR is off")
    need(file_alignment >= 512, "file alignment %d" % file_alignment)
    expected_subsystem = (5, 2) if wide else (4, 0)
    need(subsystem == expected_subsystem, "subsystem version %d.%d, not %d.%d" % (subsystem + expected_subsystem))
    need(stack == 0x200000, "stack reserve %#x, not 2 MB" % stack)

    dlls = []
    entry = offset(imports_rva) if imports_rva else None
    while entry is not None:
        lookup, _, _, name_rva, first = struct.unpack_from("<IIIII", data, entry)
        if name_rva == 0:
            break
        dll = text(name_rva).lower()
        dlls.append(dll)
        need(dll in ALLOWED_DLLS, "not a system DLL: %s" % dll)
        size, top = (8, 1 << 63) if wide else (4, 1 << 31)
        thunk = offset(lookup or first)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, thunk)[0]
            if value == 0:
                break
            need(not value & top, "%s: import by ordinal %d" % (dll, value & 0xFFFF))
            thunk += size
        entry += 20
    print("imports:", " ".join(dlls))
    need(dlls, "no imports found")

    # Resource tree: type, name, language, then the data's address and size.
    resources_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if resources_rva:
        base = offset(resources_rva)

        def entries(at):
            named, numbered = struct.unpack_from("<HH", data, base + at + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
                if key & 0x80000000:
                    length = struct.unpack_from("<H", data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = data[start:start + 2 * length].decode("utf-16-le")
                yield key, target & 0x7FFFFFFF

        packs = []
        for key, types in entries(0):
            if key != "TEXTS":
                continue
            for name, languages in entries(types):
                for _, leaf in entries(languages):
                    packs.append((name, struct.unpack_from("<I", data, base + leaf + 4)[0]))
        need(packs, "no language texts (TEXTS resources)")
        print("language texts (TEXTS resources): %d bytes" % sum(size for _, size in packs))

    if limit is not None:
        need(len(data) <= limit, "larger than %d bytes" % limit)
    for p in problems:
        print("WRONG:", p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
