#!/usr/bin/env python3
"""Runs two builds of patool (and of same_outputs_aid) on the same inputs and
compares everything they produce: exit code, stdout, stderr and every file
each command writes or changes.  Called by scripts/same_outputs.sh, which
builds the two sides; see there for the whole story.

Inputs come in two kinds.  Seen: the real test font pairs, the small fonts
and difference files of the test builders, the fuzz corpora, and the
difference files `patool make` writes from each pair.  Unseen: seeded,
structure-aware mutations of those fonts and difference files (directory
records, name table counts and offsets, difference-file records and block
lists, lengths, truncations, appended bytes).  Case k of seed S is made from
its own generator, so `--seed S --case k` rebuilds it alone.
"""

import argparse
import concurrent.futures as futures
import difflib
import fnmatch
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

COMMAND_TIMEOUT = 120
NAME_RECORD, DIFF_HEADER, DIFF_RECORD = 12, 53, 18

# Only what differs from run to run whatever the code: process ids in the
# names of patool's temporary files, and the time `make` took.
VOLATILE = [
    (re.compile(rb"(\.patool-|patool-check-|patool-copy-)\d+"), rb"\1PID"),
    (re.compile(rb" in \d+\.\d+ s;"), rb" in T s;"),
]


def normalise(data):
    for pattern, replacement in VOLATILE:
        data = pattern.sub(replacement, data)
    return data


def u16(b, at):
    return struct.unpack_from(">H", b, at)[0] if at + 2 <= len(b) else 0


def u32(b, at):
    return struct.unpack_from(">I", b, at)[0] if at + 4 <= len(b) else 0


# ---------------------------------------------------------------------------
# Cases.  A case is a name and up to three inputs: the installed font, the
# difference file, and the release that `check` compares with.


class Case:
    def __init__(self, name, font=None, pa=None, new=None, make=None, note=""):
        self.name, self.note = name, note
        self.files = {}  # file name in the case folder -> bytes or a host path
        if font is not None:
            self.files["font.otf"] = font
        if pa is not None:
            self.files["diff.pa"] = pa
        if new is not None:
            self.files["new.otf"] = new
        self.make = make  # (old, new) for `make` instead of the four commands

    def commands(self):
        if self.make:
            self.files["old.otf"], self.files["rev.otf"] = self.make
            return [("make", ["make", "old.otf", "rev.otf", "made.pa"])]
        cmds = []
        if "diff.pa" in self.files:
            cmds.append(("show", ["show", "diff.pa"]))
            if "font.otf" in self.files:
                cmds.append(("show --font", ["show", "diff.pa", "--font", "font.otf"]))
                cmds.append(("apply", ["apply", "font.otf", "diff.pa", "out.otf"]))
                if "new.otf" in self.files:
                    cmds.append(("check", ["check", "font.otf", "diff.pa", "new.otf"]))
        return cmds


def read(path):
    with open(path, "rb") as f:
        return f.read()


def seen_cases(fonts_dir, made_dir, fuzz_corpus, base_patool):
    """The known inputs.  Difference files are made by the base build's
    `make` into made_dir first; `make` itself is compared as a case."""
    pairs, singles = [], []
    for group, folder in fonts_dir:
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".otf") or name.endswith(".rev.otf"):
                continue
            stem = name[:-4]
            rev = os.path.join(folder, stem + ".rev.otf")
            old = os.path.join(folder, name)
            pas = sorted(os.path.join(folder, p) for p in os.listdir(folder)
                         if p.startswith(stem + ".") and p.endswith(".pa"))
            if os.path.exists(rev):
                pairs.append((group + "/" + stem, old, rev, pas))
            else:
                singles.append((group + "/" + stem, old, pas))

    cases, made, materials = [], {}, {}
    for label, old, rev, _ in pairs:
        out = os.path.join(made_dir, label.replace("/", "_") + ".made.pa")
        r = subprocess.run([base_patool, "make", old, rev, out], capture_output=True)
        if r.returncode == 0:
            made[label] = out
        cases.append(Case("seen/" + label + " make", make=(old, rev)))
    for label, old, rev, pas in pairs:
        for pa in ([made[label]] if label in made else []) + pas:
            cases.append(Case("seen/%s %s" % (label, os.path.basename(pa)), old, pa, rev))
        # The release as the installed font: already revised.
        if label in made:
            cases.append(Case("seen/%s rev-with-own" % label, rev, made[label], rev))
        if os.path.getsize(old) < 1 << 20 and label in made:
            materials[label] = (read(old), read(made[label]), read(rev))
    for label, old, pas in singles:
        for pa in pas:
            cases.append(Case("seen/%s %s" % (label, os.path.basename(pa)), old, pa))
    # Every font with a difference file that is not its own.
    fonts = [(l, o) for l, o, _, _ in pairs] + [(l, o) for l, o, _ in singles]
    others = sorted(made.items())
    for label, old in fonts:
        for other, pa in others[:3]:
            if other != label:
                cases.append(Case("seen/%s with %s" % (label, os.path.basename(pa)), old, pa,
                                  dict((l, r) for l, _, r, _ in pairs)[other]))

    # The fuzz corpora, as fonts with a real difference file or as difference
    # files for a real font.
    anchor = next((l for l in sorted(made) if l.endswith("Gothic-Pro-W3")), None)
    for corpus in fuzz_corpus if anchor else []:
        old, rev = next((o, r) for l, o, r, _ in pairs if l == anchor)
        for entry in sorted(os.listdir(corpus)):
            folder = os.path.join(corpus, entry)
            label = "%s/%s" % (os.path.basename(corpus), entry)
            for name in sorted(os.listdir(folder)):
                path = os.path.join(folder, name)
                if entry in ("revise_font", "load_font", "is_target_font"):
                    cases.append(Case("%s/%s" % (label, name), path, made[anchor], rev))
                elif entry in ("revise_diff", "read_file", "read_header"):
                    cases.append(Case("%s/%s" % (label, name), old, path, rev))
    return cases, materials


# ---------------------------------------------------------------------------
# Mutations.

def u32_values(rng, old, size, others):
    choices = [0, 1, 3, 4, old - 1, old + 1, old + 4, old - 4, size, size - 1, size + 1, size - 4,
               0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFC, 0x10000, rng.getrandbits(32),
               rng.randrange(max(size, 1)), old * 2, old // 2]
    choices += others
    return rng.choice(choices) & 0xFFFFFFFF


def u16_values(rng, old, others=()):
    return rng.choice([0, 1, 2, old - 1, old + 1, old * 2, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE,
                       rng.getrandbits(16), rng.randrange(64)] + list(others)) & 0xFFFF


def u8_values(rng, old):
    return rng.choice([0, 1, old - 1, old + 1, 0x7F, 0x80, 0xFF, rng.getrandbits(8)]) & 0xFF


def put32(b, at, v):
    if at + 4 <= len(b):
        struct.pack_into(">I", b, at, v)


def put16(b, at, v):
    if at + 2 <= len(b):
        struct.pack_into(">H", b, at, v)


def common_mutation(rng, b, marks):
    """Flips, truncation and appended bytes: what any file may suffer."""
    kind = rng.randrange(4)
    if kind == 0 and b:
        at = rng.choice(marks + [rng.randrange(len(b))]) if marks else rng.randrange(len(b))
        at = max(0, min(len(b) - 1, at + rng.randrange(-2, 3)))
        b[at] ^= 1 << rng.randrange(8) if rng.random() < 0.7 else rng.randrange(1, 256)
        return "flip@%d" % at
    if kind == 1 and b:
        cut = rng.choice(marks + [rng.randrange(len(b)), len(b) - 1, len(b) - 2]) if marks else rng.randrange(len(b))
        cut = max(0, min(len(b) - 1, cut + rng.choice([0, 0, -1, 1])))
        del b[cut:]
        return "cut@%d" % cut
    if kind == 2:
        n = rng.choice([1, 2, 3, 4, 17, rng.randrange(1, 4096)])
        b.extend(rng.getrandbits(8) for _ in range(n))
        return "append%d" % n
    if b:
        at, n = rng.randrange(len(b)), rng.randrange(1, 9)
        b[at:at + n] = bytes(rng.getrandbits(8) for _ in range(min(n, len(b) - at)))
        return "scribble@%d+%d" % (at, n)
    return "none"


def mutate_font(rng, b):
    size, n = len(b), u16(b, 4)
    records = [12 + 16 * i for i in range(n) if 12 + 16 * i + 16 <= size]
    tables = {bytes(b[r:r + 4]): (u32(b, r + 8), u32(b, r + 12)) for r in records}
    offsets = [u32(b, r + 8) for r in records] + [u32(b, r + 12) for r in records]
    marks = [12, 12 + 16 * n] + [o for o, _ in tables.values()] + [o + l for o, l in tables.values()]
    kind = rng.randrange(10)
    if kind == 0:
        put16(b, 4, u16_values(rng, n))
        return "numTables"
    if kind in (1, 2) and records:
        r = rng.choice(records)
        field = rng.choice([0, 4, 8, 8, 12, 12])
        if field == 0:
            other = rng.choice(records)
            b[r:r + 4] = b[other:other + 4] if rng.random() < 0.6 else bytes(rng.getrandbits(8) for _ in range(4))
        else:
            put32(b, r + field, u32_values(rng, u32(b, r + field), size, offsets))
        return "dir%d.%d" % ((r - 12) // 16, field)
    if kind == 3 and len(records) > 1:
        i, j = rng.sample(records, 2)
        if rng.random() < 0.5:
            b[i:i + 16], b[j:j + 16] = b[j:j + 16], b[i:i + 16]
            return "dirswap"
        b[i:i + 16] = b[j:j + 16]
        return "dirdup"
    if kind in (4, 5, 6) and b"name" in tables:
        o, length = tables[b"name"]
        count = u16(b, o + 2)
        what = rng.randrange(4)
        if what == 0:
            put16(b, o + 2, u16_values(rng, count))
            return "name.count"
        if what == 1:
            put16(b, o + 4, u16_values(rng, u16(b, o + 4), [length, 6 + 12 * count]))
            return "name.stringOffset"
        if count:
            rec = o + 6 + NAME_RECORD * rng.randrange(min(count, 512))
            field = rng.choice([0, 2, 4, 6, 8, 10, 8, 10])
            put16(b, rec + field, u16_values(rng, u16(b, rec + field), [13, 4, 1, 3, 0x409, 0x411]))
            return "name.rec.%d" % field
    if kind == 7 and b"head" in tables:
        o, _ = tables[b"head"]
        field = rng.choice([4, 8, 12, 0])
        put32(b, o + field, u32_values(rng, u32(b, o + field), size, [0x10000, 0x5F0F3CF5]))
        return "head.%d" % field
    return common_mutation(rng, b, marks)


def mutate_pa(rng, b):
    size, count = len(b), b[44] if len(b) > 44 else 0
    records = [DIFF_HEADER + DIFF_RECORD * i for i in range(count) if DIFF_HEADER + DIFF_RECORD * (i + 1) <= size]
    lists = [u32(b, r + 6) for r in records if 0 < u32(b, r + 6) < size]
    marks = [4, 36, 44, DIFF_HEADER] + records + lists
    kind = rng.randrange(10)
    if kind == 0:
        field = rng.choice([36, 40, 40])
        put32(b, field, u32_values(rng, u32(b, field), size, [u32(b, 40) + 4, u32(b, 40) - 4]))
        return "header.%d" % field
    if kind == 1 and size > 44:
        b[44] = u8_values(rng, count)
        return "tableCount"
    if kind == 2 and size > 36:
        at = 4 + rng.randrange(32)
        b[at] = rng.choice([0, 0x20, 0x41, rng.getrandbits(8)])
        return "fontName@%d" % at
    if kind in (3, 4, 5) and records:
        r = rng.choice(records)
        field = rng.choice([0, 4, 5, 6, 6, 10, 14, 14])
        if field == 0:
            other = rng.choice(records)
            b[r:r + 4] = b[other:other + 4] if rng.random() < 0.7 else bytes(rng.getrandbits(8) for _ in range(4))
        elif field in (4, 5):
            b[r + field] = u8_values(rng, b[r + field])
        else:
            put32(b, r + field, u32_values(rng, u32(b, r + field), size, lists + [u32(b, 40)]))
        return "rec%d.%d" % ((r - DIFF_HEADER) // DIFF_RECORD, field)
    if kind in (6, 7, 8) and lists:
        at = rng.choice(lists)
        copies = u32(b, at)
        what = rng.randrange(4)
        if what == 0:
            put32(b, at, u32_values(rng, copies, size, [0x15555556]))
            return "copyCount"
        if what == 1 and copies and copies < 1 << 16:
            block = at + 4 + 12 * rng.randrange(copies)
            field = rng.choice([0, 4, 8])
            put32(b, block + field, u32_values(rng, u32(b, block + field), size, []))
            return "copy.%d" % field
        lit = at + 4 + 12 * copies if copies < 1 << 20 else None
        if lit is not None and lit + 4 <= size:
            if what == 2:
                put32(b, lit, u32_values(rng, u32(b, lit), size, []))
                return "literalCount"
            if u32(b, lit) and lit + 12 <= size:
                field = rng.choice([4, 8, 8])
                put32(b, lit + field, u32_values(rng, u32(b, lit + field), size, []))
                return "literal0.%d" % (field - 4)
    return common_mutation(rng, b, marks)


def unseen_case(seed, k, materials):
    rng = random.Random(seed * 1000003 + k)
    label = sorted(materials)[rng.randrange(len(materials))]
    font, pa, new = (bytearray(x) for x in materials[label])
    steps = []
    rounds = 1 + (rng.random() < 0.35) + (rng.random() < 0.15)
    target = rng.choices(["font", "pa", "both", "new"], [45, 40, 8, 7])[0]
    for _ in range(rounds):
        if target in ("font", "both"):
            steps.append("font:" + mutate_font(rng, font))
        if target in ("pa", "both"):
            steps.append("pa:" + mutate_pa(rng, pa))
        if target == "new":
            steps.append("new:" + mutate_font(rng, new))
    return Case("unseen/%d %s %s" % (k, label, ",".join(steps)), bytes(font), bytes(pa), bytes(new))


# ---------------------------------------------------------------------------
# Running a case under both builds.

def snapshot(folder):
    state = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            state[normalise(name.encode()).decode()] = read(path)
        else:
            state[name + "/"] = b""
    return state


def run_side(case, patool, folder, inputs):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, content in inputs.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(content)
    results = []
    before = snapshot(folder)
    env = dict(os.environ, LC_ALL="C", LANG="C")
    for label, args in case.commands():
        try:
            r = subprocess.run([patool] + args, cwd=folder, capture_output=True, timeout=COMMAND_TIMEOUT, env=env)
            outcome = (r.returncode, normalise(r.stdout), normalise(r.stderr))
        except subprocess.TimeoutExpired:
            outcome = ("timeout", b"", b"")
        after = snapshot(folder)
        changed = {n: v for n, v in after.items() if before.get(n) != v}
        gone = sorted(n for n in before if n not in after)
        results.append((label, args, outcome, changed, gone))
        before = after
    return results


def text_diff(a, b, limit=12):
    lines = list(difflib.unified_diff(a.decode("utf-8", "replace").splitlines(),
                                      b.decode("utf-8", "replace").splitlines(), "base", "head", lineterm="", n=1))
    if len(lines) > limit:
        lines = lines[:limit] + ["... (%d more diff lines)" % (len(lines) - limit)]
    return "\n".join("      " + l for l in lines)


def bytes_diff(a, b):
    first = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    return "%d vs %d bytes, first difference at byte %d (sha256 %s vs %s)" % (
        len(a), len(b), first, hashlib.sha256(a).hexdigest()[:12], hashlib.sha256(b).hexdigest()[:12])


def compare(base, head):
    """Differences between the two sides' results of one case, per command."""
    found = []
    for (label, args, bo, bc, bg), (_, _, ho, hc, hg) in zip(base, head):
        why = []
        if bo[0] != ho[0]:
            why.append("    exit %s vs %s" % (bo[0], ho[0]))
        for i, stream in ((1, "stdout"), (2, "stderr")):
            if bo[i] != ho[i]:
                why.append("    %s differs:\n%s" % (stream, text_diff(bo[i], ho[i])))
        for name in sorted(set(bc) | set(hc)):
            if name not in hc:
                why.append("    %s written by base only" % name)
            elif name not in bc:
                why.append("    %s written by head only" % name)
            elif bc[name] != hc[name]:
                why.append("    %s: %s" % (name, bytes_diff(bc[name], hc[name])))
        if bg != hg:
            why.append("    removed: %s vs %s" % (bg, hg))
        found.append((label, args, why, bo[0]))
    return found


class Worker:
    def __init__(self, scratch, base, head, seed, materials):
        self.scratch, self.base, self.head, self.seed, self.materials = scratch, base, head, seed, materials


_W = None


def init_worker(state):
    global _W
    _W = state
    _W.folder = tempfile.mkdtemp(prefix="case-", dir=state.scratch)


def run_case(case):
    if isinstance(case, int):
        case = unseen_case(_W.seed, case, _W.materials)
    case.commands()  # settles the input files of a make case
    inputs = {n: (read(v) if isinstance(v, str) else v) for n, v in case.files.items()}
    base = run_side(case, _W.base, _W.folder, inputs)
    head = run_side(case, _W.head, _W.folder, inputs)
    shutil.rmtree(_W.folder, ignore_errors=True)
    # Mutants of the font and difference file the fuzz entries are set up
    # with go on to those entries as well.
    kept = None
    if case.name.startswith("unseen/") and case.name.split()[1].endswith("Gothic-Pro-W3"):
        steps = case.name.split()[2]
        kept = (inputs["font.otf"] if "font:" in steps else None, inputs["diff.pa"] if "pa:" in steps else None)
    return case.name, compare(base, head), inputs, kept


# ---------------------------------------------------------------------------
# The fuzz entries through each side's same_outputs_aid.

def compare_entries(base_aid, head_aid, font_dir, work, sources, report, ignore):
    differing = compared = 0
    for entry, files in sorted(sources.items()):
        if not files:
            continue
        outs = []
        for side, aid in (("base", base_aid), ("head", head_aid)):
            out = os.path.join(work, "entries", side, entry)
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            r = subprocess.run([aid, "entry", font_dir, entry, out] + files, capture_output=True)
            if r.returncode != 0:
                report("entry %s: the %s aid failed (exit %d): %s" % (entry, side, r.returncode,
                                                                      r.stderr.decode(errors="replace")[-300:]))
                return None
            outs.append(out)
        for i, path in enumerate(files):
            if any(fnmatch.fnmatchcase("entry %s %s" % (entry, path), g) for g in ignore):
                continue
            compared += 1
            why = []
            for ext in (".result", ".font"):
                a, b = (os.path.join(o, str(i) + ext) for o in outs)
                if os.path.exists(a) != os.path.exists(b):
                    why.append("    %s only by %s" % (ext, "base" if os.path.exists(a) else "head"))
                elif os.path.exists(a) and read(a) != read(b):
                    why.append("    %s: %s" % (ext, text_diff(read(a), read(b)) if ext == ".result"
                                                else bytes_diff(read(a), read(b))))
            if why:
                differing += 1
                report("DIFFERENT entry %s on %s\n%s" % (entry, path, "\n".join(why)))
    return compared, differing


# ---------------------------------------------------------------------------

def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--base", required=True, help="base build folder")
    p.add_argument("--head", required=True, help="head build folder")
    p.add_argument("--fonts", required=True, help="the real test fonts (X.otf / X.rev.otf)")
    p.add_argument("--fuzz-corpus", action="append", default=[],
                   help="libFuzzer corpus or seed folder, one folder per entry (repeatable)")
    p.add_argument("--regressions", default="", help="the kept fuzz regression inputs")
    p.add_argument("--work", required=True, help="folder for made inputs and kept differences")
    p.add_argument("--seed", type=int, default=None)
    p.add_argument("--seconds", type=float, default=270, help="time for the unseen cases")
    p.add_argument("--max-cases", type=int, default=20000, help="at most this many unseen cases")
    p.add_argument("--case", type=int, action="append", default=[], help="run only this unseen case (repeatable)")
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    p.add_argument("--ignore", action="append", default=[],
                   help="glob over 'COMMAND CASE' (e.g. 'show --font *', '* *nohead*') or 'entry ENTRY FILE':"
                        " not compared")
    a = p.parse_args()
    for field in ("base", "head", "fonts", "regressions", "work"):
        if getattr(a, field):
            setattr(a, field, os.path.abspath(getattr(a, field)))
    a.fuzz_corpus = [os.path.abspath(c) for c in a.fuzz_corpus if os.path.isdir(c)]

    seed = a.seed if a.seed is not None else random.SystemRandom().randrange(1 << 31)
    print("seed %d (rerun with --seed %d)" % (seed, seed), flush=True)
    base_patool, head_patool = (os.path.join(d, "tools", "patool") for d in (a.base, a.head))
    base_aid, head_aid = (os.path.join(d, "same_outputs_aid") for d in (a.base, a.head))
    have_aid = os.path.exists(base_aid) and os.path.exists(head_aid)

    made = os.path.join(a.work, "made")
    aid_inputs = os.path.join(a.work, "aid-inputs")
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(made)
    os.makedirs(aid_inputs)
    font_dirs = [("fonts", a.fonts)]
    maker = base_aid if os.path.exists(base_aid) else head_aid
    if os.path.exists(maker) and subprocess.run([maker, "inputs", aid_inputs]).returncode == 0:
        font_dirs.append(("aid", aid_inputs))
    else:
        print("note: no builder inputs (same_outputs_aid missing or failed)")

    cases, materials = seen_cases(font_dirs, made, a.fuzz_corpus, base_patool)
    if not materials:
        sys.exit("same_outputs: no font pair to mutate")
    unseen = a.case or None

    log = open(os.path.join(a.work, "differences.txt"), "w")

    def report(text):
        print(text, flush=True)
        log.write(text + "\n")

    scratch_root = "/dev/shm" if os.access("/dev/shm", os.W_OK) else a.work
    scratch = tempfile.mkdtemp(prefix="same-outputs-", dir=scratch_root)
    keep_fonts, keep_pas = os.path.join(a.work, "unseen", "revise_font"), os.path.join(a.work, "unseen", "revise_diff")
    os.makedirs(keep_fonts)
    os.makedirs(keep_pas)
    totals = {"cases": 0, "commands": 0, "identical": 0, "differing": 0, "ignored": 0, "differing cases": 0}
    exits = {}  # unseen cases: how far they got, by the base's exit codes
    state = Worker(scratch, base_patool, head_patool, seed, materials)

    def take(result):
        name, found, inputs, kept = result
        totals["cases"] += 1
        bad = []
        for label, args, why, code in found:
            if name.startswith("unseen/"):
                tally = exits.setdefault(label, {})
                tally[code] = tally.get(code, 0) + 1
            if any(fnmatch.fnmatchcase("%s %s" % (label, name), g) for g in a.ignore):
                totals["ignored"] += 1
                continue
            totals["commands"] += 1
            if why:
                totals["differing"] += 1
                bad.append("  patool %s\n%s" % (" ".join(args), "\n".join(why)))
            else:
                totals["identical"] += 1
        if bad:
            totals["differing cases"] += 1
            keep = os.path.join(a.work, "differences", re.sub(r"[^\w.-]+", "_", name)[:120])
            os.makedirs(keep, exist_ok=True)
            for n, v in inputs.items():
                with open(os.path.join(keep, n), "wb") as f:
                    f.write(v)
            report("DIFFERENT %s  (inputs kept in %s)\n%s" % (name, keep, "\n".join(bad)))
        if kept:
            k = str(totals["cases"])
            for folder, data in ((keep_fonts, kept[0]), (keep_pas, kept[1])):
                if data is not None:
                    with open(os.path.join(folder, k), "wb") as f:
                        f.write(data)

    started = time.monotonic()
    try:
        with futures.ProcessPoolExecutor(a.jobs, initializer=init_worker, initargs=(state,)) as pool:
            if not unseen:
                for result in pool.map(run_case, cases, chunksize=1):
                    take(result)
                print("seen: %d cases in %.0f s" % (totals["cases"], time.monotonic() - started), flush=True)
            deadline = time.monotonic() + a.seconds
            todo = iter(unseen or range(a.max_cases))
            pending = set()
            while True:
                while len(pending) < 4 * a.jobs and (unseen or time.monotonic() < deadline):
                    k = next(todo, None)
                    if k is None:
                        break
                    pending.add(pool.submit(run_case, k))
                if not pending:
                    break
                done, pending = futures.wait(pending, return_when=futures.FIRST_COMPLETED)
                for f in done:
                    take(f.result())
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("patool: %d cases, %d commands compared, %d identical, %d differing (%d cases), %d ignored, %.0f s" % (
        totals["cases"], totals["commands"], totals["identical"], totals["differing"], totals["differing cases"],
        totals["ignored"], time.monotonic() - started), flush=True)
    for label, tally in sorted(exits.items()):
        print("  unseen %-12s exit codes %s" % (label, ", ".join("%s: %d" % kv for kv in sorted(tally.items(), key=lambda kv: (isinstance(kv[0], str), kv[0])))))

    entry_differing = 0
    if not have_aid:
        print("entries: not compared (same_outputs_aid did not build on both sides)")
    else:
        sources = {}
        for root in a.fuzz_corpus + ([a.regressions] if a.regressions else []):
            for entry in (sorted(os.listdir(root)) if os.path.isdir(root) else []):
                folder = os.path.join(root, entry)
                sources.setdefault(entry, []).extend(sorted(os.path.join(folder, n) for n in os.listdir(folder)))
        for entry, folder in (("revise_font", keep_fonts), ("revise_diff", keep_pas)):
            sources.setdefault(entry, []).extend(sorted(os.path.join(folder, n) for n in os.listdir(folder)))
        r = compare_entries(base_aid, head_aid, a.fonts, a.work, sources, report, a.ignore)
        if r is None:
            entry_differing = 1
        else:
            entry_differing = r[1]
            print("entries: %d inputs compared, %d identical, %d differing" % (r[0], r[0] - r[1], r[1]))
    log.close()
    failed = totals["differing"] + entry_differing
    print("same_outputs: %s (details in %s)" % ("DIFFERENT" if failed else "identical",
                                                 os.path.join(a.work, "differences.txt")))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
