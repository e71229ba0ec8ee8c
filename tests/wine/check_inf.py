#!/usr/bin/env python3
"""Checks an INF's lines for the language monitor: the install section's
LanguageMonitor names the monitor "KestrovaLM" (the name kestrova install
registers) and its DLL "KestrovaLM.dll"; the same section's CopyFiles has a
section that copies that DLL; the destination of that section is the system
directory where the spooler loads monitors from; and the source files list
the DLL.

    check_inf.py FILE.inf
"""
import re
import sys

MONITOR = "KestrovaLM"
DLL = "KestrovaLM.dll"
# 66002: the system directory for print monitors; 11: System32.
SYSTEM_DIRECTORIES = {"66002", "11"}


def read_inf(path):
    """Sections by lower-case name: lists of (key or None, value) in order."""
    sections, current = {}, None
    with open(path, encoding="utf-8-sig") as inf:
        for raw in inf:
            line = re.sub(r';(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
            if not line:
                continue
            header = re.fullmatch(r"\[([^\]]+)\]", line)
            if header:
                current = sections.setdefault(header.group(1).strip().lower(), [])
            elif current is not None:
                key, equals, value = line.partition("=")
                current.append((key.strip().lower(), value.strip()) if equals else (None, line))
    return sections


def expand(value, strings):
    """%name% replaced from [Strings], quotes taken off."""
    value = re.sub(r"%([^%]+)%", lambda m: strings.get(m.group(1).lower(), m.group(0)), value)
    return value.strip().strip('"')


def problems(path):
    sections = read_inf(path)
    strings = {key: value.strip('"') for key, value in sections.get("strings", []) if key}
    installs = [(name, entries) for name, entries in sections.items()
                if any(key == "languagemonitor" for key, _ in entries)]
    if len(installs) != 1:
        return [f"{len(installs)} sections name a LanguageMonitor, expected one"]
    install, entries = installs[0]
    found = []
    monitor = expand(next(value for key, value in entries if key == "languagemonitor"), strings)
    name, _, dll = (part.strip() for part in monitor.partition(","))
    if name != MONITOR:
        found.append(f"[{install}] LanguageMonitor names the monitor '{name}', not '{MONITOR}'")
    if dll.lower() != DLL.lower():
        found.append(f"[{install}] LanguageMonitor names the DLL '{dll}', not '{DLL}'")

    copies = [part.strip().lower() for key, value in entries if key == "copyfiles" for part in value.split(",")]
    copying = [section for section in copies
               if any(value.lower() == DLL.lower() for key, value in sections.get(section, []) if key is None)]
    if not copying:
        found.append(f"[{install}] CopyFiles ({', '.join(copies) or 'none'}) copies no {DLL}")
    destinations = {key: value.split(",")[0].strip() for key, value in sections.get("destinationdirs", []) if key}
    for section in copying:
        directory = destinations.get(section, destinations.get("defaultdestdir"))
        if directory not in SYSTEM_DIRECTORIES:
            found.append(f"[{section}] is copied to directory {directory}, not the system directory (66002 or 11)")
    if not any((key or value).lower() == DLL.lower() for key, value in sections.get("sourcedisksfiles", [])):
        found.append(f"[SourceDisksFiles] does not list {DLL}")
    return found


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: check_inf.py FILE.inf")
    found = problems(sys.argv[1])
    for problem in found:
        print(f"{sys.argv[1]}: {problem}")
    if not found:
        print(f"{sys.argv[1]}: LanguageMonitor {MONITOR},{DLL}, copied to the system directory")
    sys.exit(1 if found else 0)
