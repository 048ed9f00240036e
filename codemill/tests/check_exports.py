#!/usr/bin/env python3
"""Checks the export tables of Codemill's binaries.

  check_exports.py dll OBJDUMP Codemill.dll  -- names, ordinals, no decorated
      names, and only system DLLs imported (the GCC runtime must be linked in).
  check_exports.py so NM libcodemill.so      -- exactly the five names exported.
"""
import re
import subprocess
import sys

EXPORTS = {
    "CheckReadCadeId": 1,
    "SetReadCadeId": 2,
    "GetPassword": 3,
    "GETCODEMILL": 4,
    "GetIsbn": 5,
}

# DLLs every Windows installation has; anything else would have to ship with us.
SYSTEM_DLLS = {
    "kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll",
    "ucrtbase.dll", "ws2_32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
    "gdi32.dll",
}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def dll_exports(dump):
    """(name, ordinal) pairs of the export table."""
    base = re.search(r"^Ordinal Base\s+(\d+)", dump, re.M)
    if not base:
        sys.exit("no export table found")
    base = int(base.group(1))
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) != 2:
        sys.exit("no name pointer table found")
    exports = []
    for line in table[1].splitlines()[1:]:
        # "[   0] Name" (index into the address table) or, in newer binutils,
        # "[   0] +base[   1]  0000 Name" with the ordinal given.
        m = re.match(r"\s*\[\s*(\d+)\]\s+(?:\+base\[\s*(\d+)\]\s+(?:[0-9a-fA-F]+\s+)?)?(\S+)\s*$", line)
        if not m:
            break
        ordinal = int(m.group(2)) if m.group(2) else base + int(m.group(1))
        exports.append((m.group(3), ordinal))
    return exports


def check_dll(objdump, dll):
    dump = run(objdump, "-p", dll)
    failures = []
    exports = dll_exports(dump)
    found = dict(exports)
    for name, ordinal in EXPORTS.items():
        if name not in found:
            failures.append(f"{name} is not exported")
        elif found[name] != ordinal:
            failures.append(f"{name} has ordinal {found[name]}, expected {ordinal}")
    for name, ordinal in exports:
        if "@" in name:
            failures.append(f"decorated name exported: {name}")
        elif name not in EXPORTS:
            failures.append(f"unexpected export {name} (ordinal {ordinal})")
    imports = re.findall(r"^\s*DLL Name:\s*(\S+)", dump, re.M)
    if not imports:
        failures.append("no import table found")
    for name in imports:
        if name.lower() not in SYSTEM_DLLS:
            failures.append(f"imports a non-system DLL: {name}")
    print("exports:", ", ".join(f"{n} @{o}" for n, o in exports))
    print("imports:", ", ".join(imports))
    return failures


def check_so(nm, so):
    symbols = run(nm, "-D", "--defined-only", "--format=posix", so)
    names = {line.split()[0] for line in symbols.splitlines() if line.strip()}
    failures = [f"{n} is not exported" for n in sorted(set(EXPORTS) - names)]
    failures += [f"unexpected export {n}" for n in sorted(names - set(EXPORTS))]
    print("exports:", ", ".join(sorted(names)))
    return failures


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("dll", "so"):
        sys.exit(__doc__)
    kind, tool, binary = sys.argv[1:]
    failures = check_dll(tool, binary) if kind == "dll" else check_so(tool, binary)
    for failure in failures:
        print("FAIL:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
