#!/usr/bin/python3
"""Damage sweeps of a release: what `patool apply` makes of a difference file,
a release manifest or an installed font that is not what the maker released.

    release_sweep.py --patool PATOOL --fonts FONT_DIR [--flips N] [--edits K]
                     [--seed S] [--pairs NAME,...] [--keep DIR]

Part 1 flips one bit of each pair's `.pa` (sampled evenly over its header,
records, block lists and literal bytes, every bit of a region smaller than
its share), applies it beside the release manifest and in a folder without
one (as files shipped before the manifest are), and does the same to the
manifest itself and to `xdelta3 -e -s OLD NEW`.  Part 2 changes one byte of
every table of the installed font, with the table's checksum and
checkSumAdjustment set right again, plus edits made with fontTools.

Every run is classed as refused (by exit code, and whether the message
names the difference file or the installed font), or built; a built font is
compared with the build from the undamaged files, apart from the bytes the
updater fills in per customer.  A wrong font with exit 0 is a fault: the
script exits 1 when any is found with the manifest beside the file.
"""

import argparse
import collections
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

PAIRS = ["Sorame-Gothic-Pro-W3", "Sorame-Mincho-Std-W5"]
MANIFEST = "release.sha256"


def u16(b, at):
    return struct.unpack_from(">H", b, at)[0]


def u32(b, at):
    return struct.unpack_from(">I", b, at)[0]


# ---------------------------------------------------------------------------
# The difference file's layout, as far as the sweep needs it.

def pa_regions(pa):
    """Byte ranges of a well-formed .pa by kind, and what it takes from the
    old font: {tag: None (whole) or [(from, to), ...]}."""
    regions = collections.defaultdict(list)
    regions["header"].append((0, 53))
    count = pa[44]
    regions["records"].append((53, 53 + 18 * count))
    taken = {}
    for i in range(count):
        r = 53 + 18 * i
        tag = bytes(pa[r:r + 4]).decode("latin-1")
        data_offset, new_length = u32(pa, r + 6), u32(pa, r + 10)
        if data_offset == 0:
            taken[tag] = None
            continue
        at = data_offset
        spans = []
        copies = u32(pa, at)
        regions["block lists"].append((at, at + 4))
        at += 4
        if not copies & 0x80000000:
            for _ in range(copies):
                src, n, dst = u32(pa, at), u32(pa, at + 4), u32(pa, at + 8)
                if dst < new_length:
                    spans.append((src, src + min(n, new_length - dst)))
                at += 12
            regions["block lists"].append((data_offset + 4, at))
        literals = u32(pa, at)
        regions["block lists"].append((at, at + 4))
        at += 4
        if not literals & 0x80000000:
            for _ in range(literals):
                n = u32(pa, at + 4)
                regions["block lists"].append((at, at + 8))
                regions["literal bytes"].append((at + 8, at + 8 + n))
                at += 8 + n
        taken[tag] = spans
    return regions, taken


def manifest_regions(text, name):
    """Byte ranges of a manifest by kind."""
    regions = collections.defaultdict(list)
    at = 0
    for line in text.split(b"\n")[:-1]:
        end = at + len(line)
        if line.startswith(b"# release manifest") or line == b"# end":
            regions["first and last lines"].append((at, end + 1))
        elif line.startswith(b"#"):
            regions["comments"].append((at, end + 1))
        else:
            label = line[66:].decode("latin-1")
            kind = "file" if label == name else "of the lines above" if label == "#manifest" else label[len(name) + 1:]
            regions["digest (%s)" % kind].append((at, at + 64))
            regions["separators, names, line ends"].append((at + 64, end + 1))
        at = end + 1
    return regions


def sample_flips(rng, regions, per_kind):
    """(kind, byte, bit) flips: every bit of a kind that has no more than
    per_kind of them, else per_kind distinct ones drawn at random."""
    flips = []
    for kind, ranges in regions.items():
        bits = [(at, bit) for a, b in ranges for at in range(a, b) for bit in range(8)]
        chosen = bits if len(bits) <= per_kind else rng.sample(bits, per_kind)
        flips += [(kind, at, bit) for at, bit in sorted(chosen)]
    return flips


# ---------------------------------------------------------------------------
# Fonts: the bytes the updater fills in per customer, and edits that keep
# every checksum right.

def table_records(font):
    return {bytes(font[12 + 16 * i:16 + 16 * i]).decode("latin-1"): (12 + 16 * i, u32(font, 20 + 16 * i),
                                                                      u32(font, 24 + 16 * i))
            for i in range(u16(font, 4))}


def filled_in(font):
    """Offsets the updater writes for each customer: the table checksums,
    head.checkSumAdjustment and the name ID 13 strings."""
    mask = set()
    records = table_records(font)
    for _, (r, _, _) in records.items():
        mask.update(range(r + 4, r + 8))
    if "head" in records:
        mask.update(range(records["head"][1] + 8, records["head"][1] + 12))
    if "name" in records:
        _, at, _ = records["name"]
        strings = at + u16(font, at + 4)
        for j in range(u16(font, at + 2)):
            rec = at + 6 + 12 * j
            if u16(font, rec + 6) == 13:
                start = strings + u16(font, rec + 10)
                mask.update(range(start, start + u16(font, rec + 8)))
    return mask


def same_release(a, b):
    """Equal apart from the bytes filled in per customer (patool check's rule
    for fonts built from one installed font)."""
    if len(a) != len(b):
        return False
    if a == b:
        return True
    ignore = filled_in(a) | filled_in(b)
    return all(x == y or k in ignore for k, (x, y) in enumerate(zip(a, b)))


def table_sum(data):
    data = bytes(data) + b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def set_checksums(font):
    """Every table checksum and checkSumAdjustment set right, as font tools do."""
    records = table_records(font)
    head = records.get("head")
    if head:
        struct.pack_into(">I", font, head[1] + 8, 0)
    for _, (r, at, n) in records.items():
        struct.pack_into(">I", font, r + 4, table_sum(font[at:at + n]))
    if head:
        struct.pack_into(">I", font, head[1] + 8, (0xB1B0AFBA - table_sum(font)) & 0xFFFFFFFF)


# ---------------------------------------------------------------------------
# Running the tools.

class Runner:
    def __init__(self, patool, work):
        self.patool, self.work = patool, work
        self.runs = 0

    def apply(self, font, pa):
        """(exit code, stderr, built bytes or None); no file may be left when
        apply refuses."""
        out = os.path.join(self.work, "out.otf")
        if os.path.exists(out):
            os.unlink(out)
        p = subprocess.run([self.patool, "apply", font, pa, out], capture_output=True)
        self.runs += 1
        built = None
        if os.path.exists(out):
            with open(out, "rb") as f:
                built = f.read()
            os.unlink(out)
        return p.returncode, p.stderr.decode("utf-8", "replace"), built


def verdict(code, err, built, reference, pa, font):
    """One run's class: "exact", "WRONG" (exit 0 and another font), "LEFT"
    (refused but a file written) or "refused N <message kind>"."""
    if code == 0:
        return "exact" if built is not None and same_release(built, reference) else "WRONG"
    if built is not None:
        return "LEFT %d" % code
    # The message names first what the user is to look at.
    at_font, at_file = err.find("'%s'" % font), err.find("'%s'" % pa)
    kind = "names neither" if at_font < 0 and at_file < 0 else \
        "names the font" if at_file < 0 or 0 <= at_font < at_file else "names the file"
    return "refused %d (%s)" % (code, kind)


def xdelta_verdict(work, old, damaged, new):
    out = os.path.join(work, "xd.out")
    if os.path.exists(out):
        os.unlink(out)
    p = subprocess.run(["xdelta3", "-d", "-f", "-s", old, damaged, out], capture_output=True)
    built = open(out, "rb").read() if os.path.exists(out) else None
    if p.returncode == 0:
        return "exact" if built == new else "WRONG"
    return "refused" if built is None or built == new else "refused (output left)"


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def table(title, rows, columns):
    """rows: {region: Counter}; prints counts per class, worst classes first."""
    print("\n" + title)
    width = max([len(r) for r in rows] + [12])
    print("  %-*s %6s  %s" % (width, "region", "flips", "  ".join(columns)))
    for region, counts in rows.items():
        total = sum(counts.values())
        print("  %-*s %6d  %s" % (width, region, total,
                                  "  ".join("%*d" % (len(c), counts.get(c, 0)) for c in columns)))


def classes(counters):
    seen = set()
    for c in counters:
        seen.update(c)
    order = lambda c: (0 if c.startswith("WRONG") else 1 if c.startswith("LEFT") else 2 if c == "exact" else 3, c)
    return sorted(seen, key=order)


# ---------------------------------------------------------------------------

def sweep_flips(args, rng, runner, pair, old, new, work):
    host = os.path.join(work, "host")
    bare = os.path.join(work, "bare")  # a host folder from before the manifest
    os.makedirs(host)
    os.makedirs(bare)
    pa_path = os.path.join(host, pair + ".pa")
    subprocess.run([args.patool, "make", old, new, pa_path], check=True, capture_output=True)
    pa = open(pa_path, "rb").read()
    manifest = open(os.path.join(host, MANIFEST), "rb").read()
    bare_path = os.path.join(bare, pair + ".pa")
    write(bare_path, pa)
    code, err, reference = runner.apply(old, pa_path)
    if code != 0:
        sys.exit("%s: the undamaged file does not apply: %s" % (pair, err))
    subprocess.run([args.patool, "check", old, pa_path, new], check=True, capture_output=True)

    regions, _ = pa_regions(pa)
    per_kind = args.flips // len(regions)
    with_manifest, without = collections.OrderedDict(), collections.OrderedDict()
    for kind, at, bit in sample_flips(rng, regions, per_kind):
        damaged = bytearray(pa)
        damaged[at] ^= 1 << bit
        write(pa_path, damaged)
        write(bare_path, damaged)
        with_manifest.setdefault(kind, collections.Counter())[
            verdict(*runner.apply(old, pa_path), reference, pa_path, old)] += 1
        without.setdefault(kind, collections.Counter())[
            verdict(*runner.apply(old, bare_path), reference, bare_path, old)] += 1
    write(pa_path, pa)

    mregions = manifest_regions(manifest, pair + ".pa")
    in_manifest = collections.OrderedDict()
    for kind, at, bit in sample_flips(rng, mregions, max(1, args.flips // len(mregions))):
        damaged = bytearray(manifest)
        damaged[at] ^= 1 << bit
        write(os.path.join(host, MANIFEST), damaged)
        in_manifest.setdefault(kind, collections.Counter())[
            verdict(*runner.apply(old, pa_path), reference, pa_path, old)] += 1
    write(os.path.join(host, MANIFEST), manifest)

    xd_path = os.path.join(work, pair + ".xd")
    subprocess.run(["xdelta3", "-e", "-f", "-s", old, new, xd_path], check=True)
    xd = open(xd_path, "rb").read()
    new_bytes = open(new, "rb").read()
    xdelta = collections.OrderedDict()
    damaged_path = os.path.join(work, "damaged.xd")
    bits = rng.sample(range(8 * len(xd)), min(args.flips, 8 * len(xd)))
    for b in sorted(bits):
        damaged = bytearray(xd)
        damaged[b // 8] ^= 1 << (b % 8)
        write(damaged_path, damaged)
        xdelta.setdefault("whole file", collections.Counter())[xdelta_verdict(work, old, damaged_path, new_bytes)] += 1

    print("\n== %s: .pa %d bytes, manifest %d bytes, xdelta3 %d bytes" % (pair, len(pa), len(manifest), len(xd)))
    table("bit flips in the .pa, the release manifest beside it:", with_manifest, classes(with_manifest.values()))
    table("the same flips, no manifest (a host folder from before it):", without, classes(without.values()))
    table("bit flips in the release manifest (the .pa undamaged):", in_manifest, classes(in_manifest.values()))
    table("bit flips in xdelta3's delta, applied with xdelta3 -d:", xdelta, classes(xdelta.values()))
    wrong = lambda rows: sum(n for c in rows.values() for k, n in c.items() if k in ("WRONG",) or k.startswith("LEFT"))
    return wrong(with_manifest) + wrong(in_manifest), wrong(without), wrong(xdelta)


def fonttools_edits(old, work):
    """(name, path, takes the edited bytes?) for edits made by fontTools."""
    from fontTools.ttLib import TTFont
    made = []

    def save(name, edit, taken, recalc_timestamp=False):
        font = TTFont(old, recalcTimestamp=recalc_timestamp)
        edit(font)
        path = os.path.join(work, name.replace(" ", "_").replace("/", "") + ".otf")
        font.save(path)
        made.append((name, path, taken))

    def notice(font):
        top = font["CFF "].cff.topDictIndex[0]
        top.Notice = (getattr(top, "Notice", "") or "") + " Edited by a font manager."

    def serial(font):
        for rec in font["name"].names:
            if rec.nameID == 13:
                rec.string = rec.toUnicode() + " (licensed to another customer, with a longer serial)"

    def vendor(font):
        font["OS/2"].achVendID = "EDIT"

    save("CFF Notice lengthened", notice, True)
    save("saved unchanged", lambda font: None, False)
    save("saved, head.modified set", lambda font: None, True, recalc_timestamp=True)
    save("ID 13 strings lengthened", serial, False)
    save("OS/2 vendor changed", vendor, True)
    return made


def sweep_edits(args, rng, runner, pair, old, new, work):
    host = os.path.join(work, "host")
    pa_path = os.path.join(host, pair + ".pa")
    pa = open(pa_path, "rb").read()
    _, taken = pa_regions(pa)
    font = bytes(open(old, "rb").read())
    code, err, reference = runner.apply(old, pa_path)
    assert code == 0, err
    records = table_records(font)
    mask = filled_in(font)
    edited_path = os.path.join(work, "edited.otf")
    rows = collections.OrderedDict()
    for tag in sorted(records):
        _, at, n = records[tag]
        spans = taken.get(tag, [])
        offsets = [k for k in range(n) if at + k not in mask]
        for k in sorted(rng.sample(offsets, min(args.edits, len(offsets)))):
            edited = bytearray(font)
            edited[at + k] ^= rng.randrange(1, 256)
            set_checksums(edited)
            write(edited_path, edited)
            is_taken = spans is None or any(a <= k < b for a, b in spans)
            group = "%s (%s)" % (tag, "taken whole" if spans is None else "blocks" if spans else "not taken")
            row = rows.setdefault(group, collections.Counter())
            v = verdict(*runner.apply(edited_path, pa_path), reference, pa_path, edited_path)
            row[("taken: " if is_taken else "not taken: ") + v] += 1
    print("\n== %s: one-byte edits of the installed font, checksums set right again" % pair)
    table("edits per table (taken: bytes the file takes):", rows, classes(rows.values()))

    tools = collections.OrderedDict()
    for name, path, is_taken in fonttools_edits(old, work):
        v = verdict(*runner.apply(path, pa_path), reference, pa_path, path)
        tools[name] = collections.Counter({("taken: " if is_taken else "not taken: ") + v: 1})
    table("edits made with fontTools:", tools, classes(tools.values()))
    bad = lambda rows: sum(n for c in rows.values() for k, n in c.items() if k.endswith("WRONG") or "LEFT" in k)
    return bad(rows) + bad(tools)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--patool", required=True)
    ap.add_argument("--fonts", required=True)
    ap.add_argument("--flips", type=int, default=2000, help="flips per pair in each file (default 2000)")
    ap.add_argument("--edits", type=int, default=40, help="one-byte edits per table (default 40)")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--pairs", default=",".join(PAIRS))
    ap.add_argument("--keep", help="work here and keep the files")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 31)
    print("seed %d (--seed %d repeats this run)" % (seed, seed))
    started = time.monotonic()
    faults = 0
    figures = []
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    for pair in args.pairs.split(","):
        old = os.path.join(args.fonts, pair + ".otf")
        new = os.path.join(args.fonts, pair + ".rev.otf")
        if not (os.path.exists(old) and os.path.exists(new)):
            sys.exit("no %s pair in %s" % (pair, args.fonts))
        work = args.keep and os.path.join(args.keep, pair) or tempfile.mkdtemp(prefix="release-sweep-", dir=base)
        os.makedirs(work, exist_ok=True)
        try:
            rng = random.Random("%d %s" % (seed, pair))
            runner = Runner(args.patool, work)
            wrong, wrong_bare, wrong_xd = sweep_flips(args, rng, runner, pair, old, new, work)
            accepted = sweep_edits(args, rng, runner, pair, old, new, work)
            faults += wrong + accepted
            figures.append((pair, wrong, wrong_bare, wrong_xd, accepted, runner.runs))
        finally:
            if not args.keep:
                shutil.rmtree(work, ignore_errors=True)
    print("\nsummary (wrong font with exit 0, or a file left on refusal):")
    for pair, wrong, wrong_bare, wrong_xd, accepted, runs in figures:
        print("  %-22s manifest beside: %d   no manifest: %d   xdelta3: %d   edited font accepted wrongly: %d"
              "   (%d runs of patool apply)" % (pair, wrong, wrong_bare, wrong_xd, accepted, runs))
    print("%.0f s" % (time.monotonic() - started))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
