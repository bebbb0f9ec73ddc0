#!/usr/bin/env python3
"""Reads the application manifest, the version information, the icon sizes
and the About box back from a built Windows executable and checks them.

    check_resources.py upd.exe

Prints what it found and one line per failed check; exits 1 when any check
failed.  Only the standard library: the resources are read straight from
the PE file's resource directory.
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 14, 16, 24


class PeError(Exception):
    pass


def resources(image):
    """{(type, name): data} of every resource (the first language of each)."""
    def u16(o):
        return struct.unpack_from("<H", image, o)[0]

    def u32(o):
        return struct.unpack_from("<I", image, o)[0]

    if image[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = u32(0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    sections = u16(pe + 6)
    optional = pe + 24
    magic = u16(optional)
    directories = optional + (112 if magic == 0x20B else 96)
    res_rva = u32(directories + 2 * 8)
    if res_rva == 0:
        raise PeError("no resource directory")
    table = optional + u16(pe + 20)
    spans = []
    for i in range(sections):
        s = table + 40 * i
        spans.append((u32(s + 12), max(u32(s + 8), u32(s + 16)), u32(s + 20)))

    def offset(rva):
        for va, size, raw in spans:
            if va <= rva < va + size:
                return raw + rva - va
        raise PeError("RVA %#x outside every section" % rva)

    base = offset(res_rva)

    def entries(directory):
        count = u16(directory + 12) + u16(directory + 14)
        for i in range(count):
            e = directory + 16 + 8 * i
            name, target = u32(e), u32(e + 4)
            yield (None if name & 0x80000000 else name), target

    found = {}
    for rtype, t in entries(base):
        if not t & 0x80000000:
            continue
        for rname, n in entries(base + (t & 0x7FFFFFFF)):
            if not n & 0x80000000:
                continue
            for _lang, leaf in entries(base + (n & 0x7FFFFFFF)):
                if leaf & 0x80000000:
                    continue
                rva, size = u32(base + leaf), u32(base + leaf + 4)
                start = offset(rva)
                found.setdefault((rtype, rname), image[start:start + size])
    return found


def version_tree(data, at=0):
    """(key, value bytes, is_text, children) of one node of the version data."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    p = at + 6
    key_end = p
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[p:key_end].decode("utf-16-le")
    p = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[p:p + value_size]
    p = (p + value_size + 3) & ~3
    children = []
    while p + 6 <= end:
        child = version_tree(data, p)
        children.append(child)
        p = (p + struct.unpack_from("<H", data, p)[0] + 3) & ~3
    return key, value, kind == 1, children


def check(exe):
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    with open(exe, "rb") as f:
        res = resources(f.read())

    manifest = res.get((RT_MANIFEST, 1))
    expect(manifest is not None, "a manifest (resource 1 of type 24)")
    if manifest is not None:
        root = ET.fromstring(manifest)
        asm1, asm3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        levels = [e.get("level") for e in root.iter(asm3 + "requestedExecutionLevel")]
        print("manifest: execution level", levels)
        expect(levels == ["requireAdministrator"], "requestedExecutionLevel requireAdministrator")
        controls = [e.get("version") for d in root.iter(asm1 + "dependentAssembly")
                    for e in d.iter(asm1 + "assemblyIdentity")
                    if e.get("name") == "Microsoft.Windows.Common-Controls"]
        print("manifest: common controls", controls)
        expect(controls == ["6.0.0.0"], "a dependency on the common controls 6.0.0.0")
        awareness = [e.text.strip() for e in root.iter() if e.tag.endswith("}dpiAwareness") and e.text]
        aware = [e.text.strip() for e in root.iter() if e.tag.endswith("}dpiAware") and e.text]
        print("manifest: dpiAwareness", awareness, "dpiAware", aware)
        expect(bool(awareness) and awareness[0].split(",")[0].strip() == "PerMonitorV2",
               "dpiAwareness PerMonitorV2 first")
        expect(aware == ["true/pm"], "the dpiAware fallback true/pm")
        oses = {e.get("Id").lower() for e in root.iter() if e.tag.endswith("}supportedOS")}
        wanted = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                  "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                  "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
        print("manifest: %d supportedOS entries" % len(oses))
        expect(oses == wanted, "supportedOS from Vista to Windows 10/11")

    strings = {}
    version = res.get((RT_VERSION, 1))
    expect(version is not None, "a version resource (VS_VERSION_INFO)")
    if version is not None:
        key, fixed, _, children = version_tree(version)
        expect(key == "VS_VERSION_INFO", "the version resource's key")
        signature, _, ms, ls, pms, pls = struct.unpack_from("<IIIIII", fixed)
        expect(signature == 0xFEEF04BD, "the fixed file information's signature")
        numbers = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        print("version: file version", numbers)
        tables = {}
        translations = []
        for child_key, _, _, grand in children:
            if child_key == "StringFileInfo":
                for table_key, _, _, values in grand:
                    tables[table_key.upper()] = {k: v.decode("utf-16-le").rstrip("\0") for k, v, _, _ in values}
            elif child_key == "VarFileInfo":
                for _, value, _, _ in grand:
                    translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value) - 3, 4)]
        print("version: blocks", sorted(tables), "translations", ["%04x/%d" % t for t in translations])
        expect("041104B0" in tables, "a Japanese string block 041104B0")
        expect((0x0411, 1200) in translations, "the translation 0411/1200")
        strings = tables.get("041104B0", {})
        for name in ("CompanyName", "FileDescription", "FileVersion", "ProductVersion", "LegalCopyright",
                     "OriginalFilename", "ProductName"):
            print("version: %s = %s" % (name, strings.get(name)))
            expect(bool(strings.get(name)), "version string " + name)
        expect(strings.get("FileVersion") == numbers, "FileVersion text matches the numbers")
        expect(strings.get("OriginalFilename", "").lower() == "upd.exe", "OriginalFilename upd.exe")

    group = res.get((RT_GROUP_ICON, 128))
    expect(group is not None, "icon group 128")
    if group is not None:
        count = struct.unpack_from("<H", group, 4)[0]
        sizes = sorted((group[6 + 14 * i] or 256) for i in range(count))
        print("icon: sizes", sizes)
        expect(sizes == [16, 24, 32, 48, 256], "icon sizes 16, 24, 32, 48 and 256")
        for i in range(count):
            icon_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
            expect((RT_ICON, icon_id) in res, "icon image %d" % icon_id)

    about = res.get((RT_DIALOG, 100))
    expect(about is not None, "the About box template")
    if about is not None and strings:
        # The About box's lines and the version strings come from one header.
        line1 = "%s Version %s" % (strings.get("ProductName"), strings.get("ProductVersion"))
        line2 = strings.get("LegalCopyright", "")
        for line in (line1, line2):
            print("about: %s" % line)
            expect(line.encode("utf-16-le") in about, "the About box shows '%s'" % line)

    for what in failures:
        print("MISSING: " + what)
    return not failures


if __name__ == "__main__":
    try:
        ok = check(sys.argv[1])
    except (PeError, struct.error, ET.ParseError, OSError) as e:
        print("cannot read the resources: %s" % e)
        ok = False
    sys.exit(0 if ok else 1)
