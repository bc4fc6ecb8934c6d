#!/usr/bin/env python3
"""Checks the built tool programs as Windows loads them: 32-bit x86, GUI
subsystem (no console window), no runtime DLL beside them (linked
statically), exactly one manifest resource, byte for byte the expected
asInvoker manifest, and a version resource of the product's version.

Usage: tool_image_check.py VERSION MANIFEST EXE...
Prints ok/FAIL per check; exit code 0 when all passed.
"""
import re
import struct
import sys

RT_MANIFEST = 24
RT_VERSION = 16
# What a clean Windows provides; anything else would have to ship beside the tool.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "wininet.dll", "shell32.dll",
               "advapi32.dll", "ws2_32.dll", "ole32.dll", "gdi32.dll", "comctl32.dll", "wintrust.dll",
               "crypt32.dll"}


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + 96
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(virtual_size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[1]
        names = []
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if name == 0 and thunks == 0:
                return names
            names.append(self.cstring(name))
            rva += 20

    def resource_entries(self, root, directory):
        """(id or name, is_directory, offset from root) of one resource directory."""
        at = self.offset(root) + directory
        named, numbered = struct.unpack_from("<HH", self.data, at + 12)
        entries = []
        for i in range(named + numbered):
            key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            entries.append((key if not key & 0x80000000 else f"name@{key & 0x7FFFFFFF:#x}",
                            bool(target & 0x80000000), target & 0x7FFFFFFF))
        return entries

    def manifests(self):
        """Every RT_MANIFEST resource as (id, language, bytes)."""
        return self.resources(RT_MANIFEST)

    def resources(self, wanted):
        """Every resource of type wanted as (id, language, bytes)."""
        root, size = self.directories[2]
        if size == 0:
            return []
        found = []
        for type_id, _, type_dir in self.resource_entries(root, 0):
            if type_id != wanted:
                continue
            for name, _, name_dir in self.resource_entries(root, type_dir):
                for language, _, leaf in self.resource_entries(root, name_dir):
                    data_rva, data_size = struct.unpack_from("<II", self.data, self.offset(root) + leaf)
                    at = self.offset(data_rva)
                    found.append((name, language, self.data[at:at + data_size]))
        return found


def main():
    version = sys.argv[1]
    manifest = open(sys.argv[2], "rb").read()
    failures = 0

    def check(passed, name, detail=""):
        nonlocal failures
        print(("ok   " if passed else "FAIL ") + name + ("" if passed else f": {detail}"))
        failures += 0 if passed else 1

    for path in sys.argv[3:]:
        tool = path.replace("\\", "/").rsplit("/", 1)[-1]
        image = Image(open(path, "rb").read())
        check(image.machine == 0x14C and image.magic == 0x10B, f"{tool}: 32-bit x86",
              f"machine {image.machine:#x}, optional header {image.magic:#x}")
        check(image.subsystem == 2, f"{tool}: GUI subsystem", f"subsystem {image.subsystem}")
        dlls = image.imported_dlls()
        extra = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
        check(not extra, f"{tool}: only system DLLs imported", ", ".join(extra))
        manifests = image.manifests()
        check(len(manifests) == 1 and manifests[0][0] == 1, f"{tool}: one manifest, resource 1",
              [(name, language, len(body)) for name, language, body in manifests])
        check(len(manifests) == 1 and manifests[0][2] == manifest, f"{tool}: manifest exact",
              manifests[0][2][:400] if manifests else "none")
        versions = image.resources(RT_VERSION)
        text = versions[0][2].decode("utf-16-le", "replace") if len(versions) == 1 else ""
        # Each value follows its key after one or two NULs (alignment).
        wanted = {"FileVersion": version, "ProductVersion": version, "ProductName": "Vantorel",
                  "OriginalFilename": tool}
        missing = [k for k, v in wanted.items() if not re.search(re.escape(k) + "\0\0?" + re.escape(v) + "\0", text)]
        check(not missing, f"{tool}: version resource {version}", missing)

    print(f"{failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
