"""The checks of make_test_fonts.py --check: each font parsed from its bytes
and held to what the tests rely on, each revision compared with its base,
ots-sanitize run on all, and the whole set rebuilt to show it reproducible."""

import hashlib
import io
import os
import struct
import subprocess
import tempfile

from fontTools.misc.psCharStrings import T2WidthExtractor
from fontTools.ttLib import TTFont

from make_test_fonts import (
    KNOWN_TAGS,
    MAX_FULL_NAME,
    MAX_ID13,
    OTS,
    OTS_UNHANDLED,
    TS_CREATED,
    build_all,
    gothic_edit_plan,
)


# The sfnt and name-table checks parse the bytes directly rather than going
# through fontTools, so a fontTools quirk cannot hide a broken file.

class CheckFailed(Exception):
    pass


def expect(cond, msg):
    if not cond:
        raise CheckFailed(msg)


def checksum(data):
    data = data + b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dL" % (len(data) // 4), data)) & 0xFFFFFFFF


def parse_sfnt(data):
    expect(len(data) >= 12, "file too short")
    version, num = struct.unpack(">4sH", data[:6])
    expect(version == b"OTTO", "sfnt version %r, want 'OTTO'" % version)
    tables = {}
    prev = b""
    for i in range(num):
        tag, csum, off, length = struct.unpack(
            ">4sLLL", data[12 + 16 * i:28 + 16 * i])
        expect(tag > prev, "table directory not sorted/unique at %r" % tag)
        prev = tag
        expect(off % 4 == 0, "%r not 4-byte aligned" % tag)
        expect(off + length <= len(data), "%r runs past end of file" % tag)
        body = data[off:off + length]
        if tag == b"head":
            body = body[:8] + b"\0\0\0\0" + body[12:]
        expect(checksum(body) == csum, "%r checksum mismatch" % tag)
        tables[tag.decode("latin-1")] = data[off:off + length]
    expect(checksum(data) == 0xB1B0AFBA, "checkSumAdjustment wrong")
    return tables


def parse_name(raw):
    fmt, count, storage = struct.unpack(">HHH", raw[:6])
    expect(fmt == 0, "name format %d, want 0" % fmt)
    recs = []
    for i in range(count):
        p, e, l, n, length, off = struct.unpack(
            ">6H", raw[6 + 12 * i:18 + 12 * i])
        expect(storage + off + length <= len(raw),
               "name record %d string out of bounds" % i)
        recs.append(((p, e, l, n), raw[storage + off:storage + off + length]))
    return recs


def check_font(path, fontdef):
    with open(path, "rb") as f:
        data = f.read()
    tables = parse_sfnt(data)
    extra = set(tables) - KNOWN_TAGS
    expect(not extra, "unknown tables %s" % sorted(extra))
    for must in ("CFF ", "head", "name", "cmap", "hmtx", "maxp"):
        expect(must in tables, "missing %r" % must)

    head = tables["head"]
    expect(struct.unpack(">L", head[12:16])[0] == 0x5F0F3CF5, "head magic")
    rev = struct.unpack(">L", head[4:8])[0]
    expect(rev == fontdef.revision,
           "fontRevision 0x%08X, want 0x%08X" % (rev, fontdef.revision))
    created, modified = struct.unpack(">qq", head[20:36])
    expect((created, modified) == (TS_CREATED, fontdef.modified),
           "head timestamps not the fixed ones")

    recs = parse_name(tables["name"])
    keys = [k for k, _ in recs]
    expect(len(recs) > 4 and keys[4] == (1, 0, 0, 4),
           "name record 4 is %r, want (1, 0, 0, 4)" % (keys[4:5],))
    expect(not any(k[0] == 0 for k in keys), "platform 0 name records")
    full = recs[4][1]
    expect(all(b < 0x80 for b in full), "Mac full name not ASCII")
    expect(len(full) <= MAX_FULL_NAME, "Mac full name %d bytes" % len(full))
    expect(full.decode("ascii") == fontdef.family, "Mac full name %r" % full)
    byname = dict(recs)
    for key in ((3, 1, 0x409, 2), (3, 1, 0x409, 4), (3, 1, 0x409, 6),
                (3, 1, 0x411, 2)):
        expect(key in byname, "missing name record %r" % (key,))
    mac13 = byname.get((1, 0, 0, 13))
    win13 = byname.get((3, 1, 0x409, 13))
    expect(mac13 is not None and win13 is not None, "name ID 13 missing")
    expect(len(mac13) <= MAX_ID13 and len(win13) <= MAX_ID13,
           "name ID 13 too long (%d/%d bytes)" % (len(mac13), len(win13)))
    expect(mac13.decode("ascii", "replace") == fontdef.id13, "Mac name ID 13 %r" % mac13)
    expect(win13.decode("utf-16-be", "replace") == fontdef.id13, "Windows name ID 13")

    font = TTFont(io.BytesIO(data))
    top = font["CFF "].cff
    expect(len(top.fontNames) == 1, "CFF holds more than one font")
    nglyphs = font["maxp"].numGlyphs
    expect(len(top.topDictIndex[0].CharStrings) == nglyphs,
           "CFF and maxp disagree on glyph count")
    expect(len(font["hmtx"].metrics) == nglyphs, "hmtx glyph count")
    if "vmtx" in font:
        expect(len(font["vmtx"].metrics) == nglyphs, "vmtx glyph count")

    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "ots.otf")
        proc = subprocess.run([OTS, path, out], capture_output=True, text=True)
        expect(proc.returncode == 0,
               "ots-sanitize failed: %s" % (proc.stdout + proc.stderr).strip())
        # OTS drops tables it dislikes and still says "success".  BASE it
        # does not sanitise at all (drops it from any font, upstream Noto
        # included), so only its loss is expected.
        with open(out, "rb") as f:
            kept = set(parse_sfnt(f.read()))
        lost = set(tables) - kept - OTS_UNHANDLED
        expect(not lost, "ots-sanitize dropped %s" % sorted(lost))
    return data, tables, font


def charstring_bytes(font):
    top = font["CFF "].cff.topDictIndex[0]
    cs = top.CharStrings
    out = {}
    for g in font.getGlyphOrder():
        c = cs[g]
        out[g] = c.bytecode if c.bytecode is not None else c.compile()
    return out


def cff_width(top, name):
    c, fd = top.CharStrings.getItemAndSelector(name)
    private = top.FDArray[fd].Private if fd is not None else top.Private
    ex = T2WidthExtractor(getattr(private, "Subrs", None), top.GlobalSubrs,
                          private.nominalWidthX, private.defaultWidthX)
    ex.execute(c)
    return ex.width


def check_revision(base, rev, fontdef):
    bdata, btables, bfont = base
    rdata, rtables, rfont = rev
    expect(set(btables) == set(rtables), "revised font has other tables")
    expect(bfont.getGlyphOrder() == rfont.getGlyphOrder(), "glyph order changed")
    differ = sorted(t for t in btables if btables[t] != rtables[t])
    cmap = bfont.getBestCmap()
    if fontdef.edit == "gothic":
        # vhea/hhea may follow the metrics; nothing else may move.
        allowed = {"CFF ", "hmtx", "vmtx", "hhea", "vhea", "head", "name"}
        plan = gothic_edit_plan(cmap)
        edited = {g for g, _, _, _ in plan}
        bcs, rcs = charstring_bytes(bfont), charstring_bytes(rfont)
        changed = {g for g in bcs if bcs[g] != rcs[g]}
        expect(changed == edited, "charstrings changed: %s, want %s"
               % (sorted(changed), sorted(edited)))
        bh, rh = bfont["hmtx"].metrics, rfont["hmtx"].metrics
        hm_changed = {g for g in bh if bh[g] != rh[g]}
        expect(hm_changed <= edited, "unexpected hmtx changes %s"
               % sorted(hm_changed - edited))
        for g, _, _, dadv in plan:
            expect(rh[g][0] - bh[g][0] == dadv,
                   "advance of %s moved by %d" % (g, rh[g][0] - bh[g][0]))
        # The CFF width must agree with hmtx for the glyphs we re-encoded.
        top = rfont["CFF "].cff.topDictIndex[0]
        for g in edited:
            width = cff_width(top, g)
            expect(width == rh[g][0], "CFF width of %s is %s, hmtx %s"
                   % (g, width, rh[g][0]))
        need = {"CFF ", "hmtx", "head", "name"}
    else:
        allowed = {"GSUB", "GPOS", "head", "name", "CFF "}
        need = {"GSUB", "GPOS", "head", "name"}
        expect(len(rtables["GSUB"]) > len(btables["GSUB"]), "GSUB did not grow")
        expect(len(rtables["GPOS"]) < len(btables["GPOS"]), "GPOS did not shrink")
        if "CFF " in differ:
            # Only acceptable if it is a no-op reserialisation.
            expect(charstring_bytes(bfont) == charstring_bytes(rfont),
                   "charstrings changed in a layout-only revision")
    expect(set(differ) <= allowed, "unexpected table changes %s"
           % sorted(set(differ) - allowed))
    expect(need <= set(differ), "expected changes missing in %s"
           % sorted(need - set(differ)))
    sizes = ", ".join("%s %+d" % (t.strip(), len(rtables[t]) - len(btables[t]))
                      for t in differ)
    return "differs from base in: %s" % sizes


def run_checks(outdir, defs, built):
    failures = 0
    seen = {}
    for d in defs:
        path = os.path.join(outdir, d.filename)
        try:
            res = check_font(path, d)
            seen[d.filename] = res
            note = ""
            if hasattr(d, "base"):
                note = "  " + check_revision(seen[d.base.filename], res, d)
            print("OK   %-34s %9d bytes  rev 0x%08X  %2d tables%s"
                  % (d.filename, len(res[0]), d.revision, len(res[1]), note))
        except CheckFailed as e:
            failures += 1
            print("FAIL %-34s %s" % (d.filename, e))
        except Exception as e:     # a font fontTools cannot even read
            failures += 1
            print("FAIL %-34s %s: %s" % (d.filename, type(e).__name__, e))
    # Same bytes on every run: rebuild into a scratch directory and compare.
    with tempfile.TemporaryDirectory() as tmp:
        again = build_all(tmp, defs, log=False)
    for d in defs:
        a = hashlib.sha256(built[d.filename]).hexdigest()
        b = hashlib.sha256(again[d.filename]).hexdigest()
        if a != b:
            failures += 1
            print("FAIL %-34s not reproducible" % d.filename)
    if not failures:
        print("reproducible: %d fonts rebuilt byte-identical" % len(defs))
    return failures
