#!/usr/bin/python3
"""Build the CFF OpenType fonts the difference-file tests run against.

    make_test_fonts.py OUTDIR [--full] [--check]

The fonts are cut from Debian's Noto CJK collections (fonts-noto-cjk), renamed
to invented "Sorame" families and reduced to the table set the program knows
how to revise.  Each base font has, where the tests need one, a ".rev.otf"
sibling that plays the part of the next release: the pair is what a
difference file is made from and what applying it must reproduce.

Output is byte-for-byte reproducible: nothing here reads the clock, the head
timestamps are fixed and fontTools is told not to touch them.

Needs Debian's python3 with python3-fonttools (4.38 at the time of writing)
and, for --check, ots-sanitize from the opentype-sanitizer package.
"""

import argparse
import io
import math
import os
import shutil
import struct
import sys
import time

from fontTools import subset
from fontTools.misc.transform import Transform
from fontTools.pens.boundsPen import BoundsPen
from fontTools.pens.t2CharStringPen import T2CharStringPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont, newTable
from fontTools.ttLib.tables.DefaultTable import DefaultTable
from fontTools.ttLib.tables._n_a_m_e import NameRecord

NOTO_DIR = "/usr/share/fonts/opentype/noto"
OTS = shutil.which("ots-sanitize") or "/usr/bin/ots-sanitize"

# The only tables the program will carry over into a revised font.  Anything
# else in an input is a reason for it to refuse the font, so the fixtures must
# not contain anything outside this list.
KNOWN_TAGS = frozenset([
    "BASE", "CFF ", "GPOS", "GSUB", "OS/2", "VORG", "cmap", "head", "hhea",
    "hmtx", "maxp", "name", "post", "vhea", "vmtx", "EBDT", "EBLC",
])

# head timestamps count seconds from 1904-01-01.  Fixed so reruns give the
# same bytes; the revised fonts carry a later "modified" like a real release.
_MAC_EPOCH_OFFSET = 2082844800            # 1904-01-01 -> 1970-01-01
TS_CREATED = _MAC_EPOCH_OFFSET + 1711929600    # 2024-04-01 00:00:00 UTC
TS_REVISED = _MAC_EPOCH_OFFSET + 1727740800    # 2024-10-01 00:00:00 UTC

VENDOR_ID = "SRME"

# ots-sanitize 8.x has no sanitiser for BASE and always leaves it out of its
# output.
OTS_UNHANDLED = frozenset(["BASE"])

# The program reads the Macintosh full name out of the fifth name record and
# has room for 32 bytes of it.
MAX_FULL_NAME = 32
# Name ID 13 carries the per-user serial; the program only accepts it shorter
# than 255 bytes in either encoding.
MAX_ID13 = 254

PLACEHOLDER_ID13 = "X" * 48

# Fixed 16.16 revisions, given raw so the head field is exactly this value.
REV_1_000 = 0x00010000
REV_1_010 = 0x0001028F      # nearest 16.16 value to 1.010 (1.0099945)
REV_1_100 = 0x0001199A      # nearest 16.16 value to 1.100 (1.1000061)
REV_2_000 = 0x00020000

# What the small fonts keep: enough Latin, kana and kanji to exercise the
# layout tables without dragging in the tens of thousands of alternates.
SUBSET_FEATURES = ["ccmp", "locl", "liga", "vert", "vrt2", "kern", "vkrn",
                   "palt", "vpal", "halt", "vhal", "mark"]
SUBSET_TEXT = (
    "永日本語文字漢東京大阪空目明朝丸角書体見出新旧版改訂口山川田中人年月"
    "、。・「」『』（）［］｛｝〈〉《》【】〔〕！？：；ー〜…"
)
SUBSET_UNICODES = sorted(set(
    list(range(0x20, 0x7F))          # ASCII
    + list(range(0x3041, 0x3097))    # hiragana
    + list(range(0x30A1, 0x30FB))    # katakana
    + [ord(c) for c in SUBSET_TEXT]
))

# Edits that make the "revised" Gothic fonts (small and full alike).  Chosen
# by character so they land on the same glyphs whatever the subset did.
#   shift:   move the outline, keep the advance (a spacing fix)
#   squeeze: scale horizontally about the em centre (a design fix)
#   copy:    take another glyph's outline (a wrong-glyph fix; katakana RO
#            and the kanji "mouth" are the classic look-alikes)
#   width:   change the advance and re-centre the outline
GOTHIC_EDITS = [
    ("A", "shift", 12),
    ("\u6C38", "squeeze", 0.94),
    ("\u30ED", "copy", "\u53E3"),
    ("i", "width", -20),
    ("l", "width", -20),
    ("m", "width", 16),
]

# Mincho revision: ASCII brackets pick up the vertical forms of their
# full-width counterparts (GSUB grows) and the proportional-width adjustment
# is withdrawn from a handful of kana (GPOS shrinks).
MINCHO_VERT_PAIRS = [("(", "\uFF08"), (")", "\uFF09"), ("[", "\uFF3B"),
                     ("]", "\uFF3D"), ("{", "\uFF5B"), ("}", "\uFF5D")]
MINCHO_PALT_DROP = 8


class FontDef:
    def __init__(self, filename, source, family, jp_family, ps_name, revision,
                 serial, licensee, small=True, modified=TS_CREATED):
        self.filename = filename
        self.source = source
        self.family = family
        self.jp_family = jp_family
        self.ps_name = ps_name
        self.revision = revision
        self.serial = serial
        self.licensee = licensee
        self.small = small
        self.modified = modified

    @property
    def id13(self):
        if self.serial is None:
            return PLACEHOLDER_ID13
        return "Serial: %s. Licensed to %s." % (self.serial, self.licensee)

    def revised(self, revision, edit):
        rev = FontDef(self.filename[:-4] + ".rev.otf", self.source,
                      self.family, self.jp_family, self.ps_name, revision,
                      None, None, self.small, TS_REVISED)
        rev.base = self
        rev.edit = edit
        return rev


# Japanese family names (0x411 records): "Sorame" in hiragana followed by
# "Gothic", "Mincho" or "Maru-Go" in kana/kanji.
GOTHIC = FontDef("Sorame-Gothic-Pro-W3.otf", "NotoSansCJK-Regular.ttc",
                 "Sorame Gothic Pro W3", "\u305D\u3089\u3081\u30B4\u30B7\u30C3\u30AF Pro W3",
                 "SorameGothicPro-W3", REV_1_000,
                 "KV-2024-000123-ABCD", "Test Workstation 01")
MINCHO = FontDef("Sorame-Mincho-Std-W5.otf", "NotoSerifCJK-Regular.ttc",
                 "Sorame Mincho Std W5", "\u305D\u3089\u3081\u660E\u671D Std W5",
                 "SorameMinchoStd-W5", REV_1_000,
                 "KV-2024-000457-MNCH", "Test Workstation 02")
MARU = FontDef("Sorame-Maru-Std-W8.otf", "NotoSansCJK-Bold.ttc",
               "Sorame Maru Std W8", "\u305D\u3089\u3081\u4E38\u30B4 Std W8",
               "SorameMaruStd-W8", REV_2_000,
               "KV-2023-009981-MARU", "Build Farm Node 7")
GOTHIC_FULL = FontDef("Sorame-Gothic-Full-W3.otf", "NotoSansCJK-Regular.ttc",
                      "Sorame Gothic Full W3",
                      "\u305D\u3089\u3081\u30B4\u30B7\u30C3\u30AF Full W3",
                      "SorameGothicFull-W3", REV_1_000,
                      "KV-2024-100001-FULL", "Test Workstation 01",
                      small=False)


def default_set():
    return [GOTHIC, GOTHIC.revised(REV_1_010, "gothic"),
            MINCHO, MINCHO.revised(REV_1_100, "mincho"),
            MARU]


def full_set():
    return [GOTHIC_FULL, GOTHIC_FULL.revised(REV_1_010, "gothic")]


def version_text(raw):
    return "%.3f" % (raw / 65536.0)


# ---------------------------------------------------------------- sources

def find_jp_face(path):
    """Index of the Japanese face in a Noto CJK collection.

    The face order is not part of any contract, so look at the names instead
    of assuming index 0."""
    with open(path, "rb") as f:
        tag, _, count = struct.unpack(">4sLL", f.read(12))
    if tag != b"ttcf":
        raise SystemExit("%s: not a font collection" % path)
    for i in range(count):
        font = TTFont(path, fontNumber=i, lazy=True)
        rec = font["name"].getName(1, 3, 1, 0x409)
        family = rec.toUnicode() if rec else ""
        if family.endswith(" JP") and "Mono" not in family:
            return i
    raise SystemExit("%s: no JP face" % path)


_face_cache = {}


def open_source(fontdef, **kw):
    path = os.path.join(NOTO_DIR, fontdef.source)
    if path not in _face_cache:
        _face_cache[path] = find_jp_face(path)
    return TTFont(path, fontNumber=_face_cache[path], recalcTimestamp=False,
                  **kw)


def subset_font(font):
    opts = subset.Options()
    opts.layout_features = SUBSET_FEATURES
    opts.name_IDs = ["*"]           # the name table is rebuilt later anyway
    opts.name_languages = ["*"]
    opts.notdef_outline = True
    opts.glyph_names = False
    opts.hinting = True
    opts.desubroutinize = False     # keep subroutines: the program must cope
    # BASE carries no glyph ids, so it can ride through untouched.
    opts.drop_tables = [t for t in opts.drop_tables if t != "BASE"]
    opts.no_subset_tables = opts.no_subset_tables + ["BASE"]
    sub = subset.Subsetter(opts)
    sub.populate(unicodes=SUBSET_UNICODES)
    sub.subset(font)


# ---------------------------------------------------------- target-likeness

def ascii_only(text):
    return text.replace("\u00A9", "(c)").encode("ascii", "replace").decode()


def build_name_table(font, fontdef, upstream):
    """Replace the name table with one for the invented family.

    Macintosh (1,0,0) records for IDs 0-4 sort ahead of everything else, so
    record 4 is the Macintosh full name - the one the program reads.  No
    Unicode-platform records: they would sort in front of them."""
    ver = version_text(fontdef.revision)
    full = fontdef.family
    subfamily = upstream[2]
    unique = "%s;%s;%s" % (ver, VENDOR_ID, fontdef.ps_name)
    mac = {
        0: ascii_only(upstream[0]),
        1: fontdef.family,
        2: subfamily,
        3: unique,
        4: full,
        5: "Version " + ver,
        6: fontdef.ps_name,
        13: fontdef.id13,
    }
    win = dict(mac)
    win[0] = upstream[0]
    if 14 in upstream:
        win[14] = upstream[14]
    jp = {1: fontdef.jp_family, 2: subfamily, 4: fontdef.jp_family}

    name = newTable("name")
    name.names = []

    def add(string, nameID, plat, enc, lang):
        rec = NameRecord()
        rec.nameID, rec.platformID, rec.platEncID, rec.langID = \
            nameID, plat, enc, lang
        rec.string = string
        name.names.append(rec)

    for nid, s in sorted(mac.items()):
        s.encode("ascii")       # Mac records here are plain ASCII by design
        add(s, nid, 1, 0, 0)
    for nid, s in sorted(win.items()):
        add(s, nid, 3, 1, 0x409)
    for nid, s in sorted(jp.items()):
        add(s, nid, 3, 1, 0x411)
    font["name"] = name


def upstream_names(font):
    out = {}
    for rec in font["name"].names:
        if (rec.platformID, rec.platEncID, rec.langID) == (3, 1, 0x409):
            out[rec.nameID] = rec.toUnicode()
    return out


def patch_vendor(font):
    if font.isLoaded("OS/2"):
        font["OS/2"].achVendID = VENDOR_ID
        return
    # Left raw so the untouched rest of OS/2 keeps its upstream bytes (and
    # decompiling it would drag cmap into a recompile as well).
    data = bytearray(font.reader["OS/2"])
    data[58:62] = VENDOR_ID.encode("ascii")
    raw = DefaultTable("OS/2")
    raw.data = bytes(data)
    font.tables["OS/2"] = raw


def rename_cff(font, fontdef):
    cff = font["CFF "].cff
    old_ps = cff.fontNames[0]
    cff.fontNames[0] = fontdef.ps_name
    top = cff.topDictIndex[0]
    top.FullName = fontdef.family
    top.FamilyName = fontdef.family
    if hasattr(top, "FDArray"):
        for fd in top.FDArray:
            if getattr(fd, "FontName", "").startswith(old_ps):
                fd.FontName = fontdef.ps_name + fd.FontName[len(old_ps):]


def set_head(font, fontdef):
    head = font["head"]
    head.fontRevision = fontdef.revision / 65536.0
    head.created = TS_CREATED
    head.modified = fontdef.modified


def make_target_like(font, fontdef):
    upstream = upstream_names(font)
    for tag in list(font.keys()):
        if tag != "GlyphOrder" and tag not in KNOWN_TAGS:
            del font[tag]
    build_name_table(font, fontdef, upstream)
    set_head(font, fontdef)
    patch_vendor(font)
    rename_cff(font, fontdef)


def to_bytes(font):
    buf = io.BytesIO()
    font.save(buf, reorderTables=True)
    return buf.getvalue()


def build_base(fontdef):
    if fontdef.small:
        font = open_source(fontdef, recalcBBoxes=True)
        subset_font(font)
    else:
        # Whole face: only the tables we touch get decompiled; the rest are
        # copied as raw upstream bytes.  No bbox recalculation either - that
        # would decompile all 65535 charstrings.
        font = open_source(fontdef, lazy=True, recalcBBoxes=False)
    make_target_like(font, fontdef)
    return to_bytes(font)


# ------------------------------------------------------------ revisions

def cmap_of(data):
    # A separate instance, so cmap is not pulled into the font being saved
    # (a loaded table gets recompiled).
    return TTFont(io.BytesIO(data), lazy=True).getBestCmap()


def glyph_bounds(charstring):
    pen = BoundsPen(None)
    charstring.draw(pen)
    return pen.bounds


def redraw(top, name, src_name, transform, advance):
    """Re-encode glyph NAME as SRC_NAME's outline under TRANSFORM.

    The new charstring is written without subroutine calls, so it is valid
    whichever FD (and local subrs) the target glyph belongs to."""
    cs = top.CharStrings
    _, fd = cs.getItemAndSelector(name)
    private = top.FDArray[fd].Private if fd is not None else top.Private
    src = cs[src_name]
    width = None if advance == private.defaultWidthX \
        else advance - private.nominalWidthX
    pen = T2CharStringPen(width, None)
    src.draw(TransformPen(pen, transform))
    new = pen.getCharString(private=private, globalSubrs=top.GlobalSubrs)
    cs[name] = new
    return glyph_bounds(new)


def gothic_edit_plan(cmap):
    """(glyph, source glyph, transform, advance delta) per edit."""
    plan = []
    for ch, kind, arg in GOTHIC_EDITS:
        g = cmap[ord(ch)]
        if kind == "shift":
            plan.append((g, g, Transform().translate(arg, 0), 0))
        elif kind == "squeeze":
            t = Transform().translate(500, 0).scale(arg, 1).translate(-500, 0)
            plan.append((g, g, t, 0))
        elif kind == "copy":
            plan.append((g, cmap[ord(arg)], Transform(), 0))
        elif kind == "width":
            # Re-centre: half the change goes to each side bearing.
            plan.append((g, g, Transform().translate(arg / 2.0, 0), arg))
    return plan


def revise_gothic(font, cmap):
    top = font["CFF "].cff.topDictIndex[0]
    hmtx = font["hmtx"]
    vmtx = font["vmtx"]
    vorg = font["VORG"]
    for g, src, t, dadv in gothic_edit_plan(cmap):
        adv = hmtx[g][0] + dadv
        xmin, _, _, ymax = redraw(top, g, src, t, adv)
        hmtx[g] = (adv, int(math.floor(xmin)))
        if src != g:
            # A different outline has a different top; keep tsb consistent.
            origin = vorg.VOriginRecords.get(g, vorg.defaultVertOriginY)
            vmtx[g] = (vmtx[g][0], origin - int(math.ceil(ymax)))


def iter_subtables(lookup):
    for st in lookup.SubTable:
        if lookup.LookupType in (7, 9) and hasattr(st, "ExtSubTable"):
            yield st.ExtSubTable.LookupType, st.ExtSubTable
        else:
            yield lookup.LookupType, st


def feature_lookups(table, tag):
    idx = set()
    for fr in table.FeatureList.FeatureRecord:
        if fr.FeatureTag == tag:
            idx.update(fr.Feature.LookupListIndex)
    return [table.LookupList.Lookup[i] for i in sorted(idx)]


def revise_mincho(font, cmap):
    gsub = font["GSUB"].table
    vert = feature_lookups(gsub, "vert")
    singles = [st for lk in vert for typ, st in iter_subtables(lk) if typ == 1]
    if not singles:
        raise SystemExit("mincho: no single substitution under 'vert'")
    vert_map = {}
    for st in singles:
        vert_map.update(st.mapping)
    added = 0
    for ascii_ch, wide_ch in MINCHO_VERT_PAIRS:
        a, w = cmap.get(ord(ascii_ch)), cmap.get(ord(wide_ch))
        if a and w and a not in vert_map and w in vert_map:
            singles[0].mapping[a] = vert_map[w]
            added += 1
    if added < 3:
        raise SystemExit("mincho: only %d vertical forms could be added" % added)

    gpos = font["GPOS"].table
    dropped = 0
    kana = {cmap[u] for u in range(0x3041, 0x3097) if u in cmap}
    for lk in feature_lookups(gpos, "palt"):
        for typ, st in iter_subtables(lk):
            if typ != 1 or dropped >= MINCHO_PALT_DROP:
                continue
            glyphs = st.Coverage.glyphs
            keep = []
            for i, g in enumerate(glyphs):
                if g in kana and dropped < MINCHO_PALT_DROP:
                    dropped += 1
                else:
                    keep.append(i)
            if st.Format == 2:
                st.Value = [st.Value[i] for i in keep]
                st.ValueCount = len(keep)
            st.Coverage.glyphs = [glyphs[i] for i in keep]
    if dropped < MINCHO_PALT_DROP:
        raise SystemExit("mincho: only %d 'palt' entries dropped" % dropped)


def build_revised(fontdef, base_data):
    # Start from the base font's bytes, lazily, so every table the revision
    # does not touch is carried over byte for byte.
    font = TTFont(io.BytesIO(base_data), lazy=True, recalcTimestamp=False,
                  recalcBBoxes=fontdef.small)
    cmap = cmap_of(base_data)
    if fontdef.edit == "gothic":
        revise_gothic(font, cmap)
    elif fontdef.edit == "mincho":
        revise_mincho(font, cmap)
    # The base name table still carries the upstream copyright, subfamily
    # and licence URL the name builder takes over.
    upstream = upstream_names(font)
    build_name_table(font, fontdef, upstream)
    set_head(font, fontdef)
    return to_bytes(font)


def build_all(outdir, defs, log=True):
    os.makedirs(outdir, exist_ok=True)
    built = {}
    for d in defs:
        t0 = time.time()
        if hasattr(d, "base"):
            data = build_revised(d, built[d.base.filename])
        else:
            data = build_base(d)
        built[d.filename] = data
        with open(os.path.join(outdir, d.filename), "wb") as f:
            f.write(data)
        if log:
            print("wrote %-34s %9d bytes  %.1fs"
                  % (d.filename, len(data), time.time() - t0))
    return built


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("outdir")
    ap.add_argument("--full", action="store_true",
                    help="also build the whole-face font pair (~16 MB each)")
    ap.add_argument("--check", action="store_true",
                    help="verify every output afterwards; non-zero exit on failure")
    args = ap.parse_args()

    defs = default_set() + (full_set() if args.full else [])
    t0 = time.time()
    built = build_all(args.outdir, defs)
    print("built %d fonts in %.1fs" % (len(defs), time.time() - t0))
    if args.check:
        # The checks import this module by name: run as a script, it is
        # __main__, which they are to share rather than load a second time.
        sys.modules.setdefault("make_test_fonts", sys.modules[__name__])
        from font_checks import run_checks
        if not os.access(OTS, os.X_OK):
            raise SystemExit("ots-sanitize not found (opentype-sanitizer)")
        t1 = time.time()
        failures = run_checks(args.outdir, defs, built)
        print("checked in %.1fs" % (time.time() - t1))
        return 1 if failures else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
