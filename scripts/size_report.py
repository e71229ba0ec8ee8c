#!/usr/bin/env python3
"""Writes the sizes of what make dist ships into a document: the block
between "<!-- file-sizes: release -->" and "<!-- end -->" becomes a table of
each DLL's and kestrova.exe's size with the size of its debug information,
and the two zips', measured now, with the date and the compiler.

    size_report.py DOCUMENT X86_BUILD X64_BUILD RELEASE_ZIP DEBUG_ZIP

Prints whether the document changed."""
import datetime
import glob
import os
import re
import sys


def size(path):
    try:
        return f"{os.stat(path).st_size:,} bytes"
    except OSError:
        sys.exit(f"size_report.py: {path} is missing (make windows, make dist)")


def compiler(build):
    """The compiler's name and version as CMake found them, and the flags."""
    found = glob.glob(os.path.join(build, "CMakeFiles", "*", "CMakeCXXCompiler.cmake"))
    version = "?"
    for path in found:
        m = re.search(r'set\(CMAKE_CXX_COMPILER_VERSION "([0-9]+)', open(path, encoding="utf-8").read())
        if m:
            version = m.group(1)
    flags = ""
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        m = re.search(r"^CMAKE_CXX_FLAGS_RELWITHDEBINFO:STRING=(.*)$", open(cache, encoding="utf-8").read(), re.M)
        if m:
            flags = " " + " ".join(f for f in m.group(1).split() if f != "-DNDEBUG")
    return f"MinGW-w64 GCC {version}, `{flags.strip()}`"


def boost():
    try:
        text = open("/usr/include/boost/version.hpp", encoding="utf-8").read()
    except OSError:
        return "Boost ?"
    m = re.search(r'#define BOOST_LIB_VERSION "([0-9_]+)"', text)
    return "Boost " + (m.group(1).replace("_", ".") if m else "?")


def main():
    if len(sys.argv) != 6:
        sys.exit("usage: size_report.py DOCUMENT X86_BUILD X64_BUILD RELEASE_ZIP DEBUG_ZIP")
    document, x86, x64, release_zip, debug_zip = sys.argv[1:]
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    rows = [
        f"Measured by `make dist` on {today} ({compiler(x86)}, {boost()}):",
        "",
        f"| file (measured {today}) | shipped | debug information beside it |",
        "|---|---|---|",
    ]
    for name, path in (("KestrovaLM.dll", "KestrovaLM.dll"), ("kestrova.exe", "tool/kestrova.exe")):
        for arch, build in (("x86", x86), ("x64", x64)):
            full = os.path.join(build, path)
            rows.append(f"| `{arch}/{name}` | {size(full)} | {size(full + '.debug')} |")
    rows.append(f"| the release zip (measured {today}) | {size(release_zip)} | the debug zip: {size(debug_zip)} |")
    figures = "\n".join(rows)

    text = open(document, encoding="utf-8").read()
    pattern = re.compile(r"(<!-- file-sizes: release -->\n).*?(<!-- end -->)", re.S)
    new, count = pattern.subn(lambda m: m.group(1) + figures + "\n" + m.group(2), text)
    if count != 1:
        sys.exit(f"size_report.py: {document} has {count} blocks named file-sizes: release, not one")
    if new != text:
        open(document, "w", encoding="utf-8").write(new)
        print(f"size_report.py: {document}: the sizes written")
    else:
        print(f"size_report.py: {document}: the sizes as they were")


if __name__ == "__main__":
    main()
