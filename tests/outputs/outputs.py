#!/usr/bin/env python3
"""The outputs table: what patool and the fuzz entries answer on the kept
inputs, as digests, so that any change of output shows at the commit that
made it.

    tests/outputs/outputs.py check    --build BUILD_DIR [--fonts DIR]
    tests/outputs/outputs.py generate --build BUILD_DIR [--fonts DIR]

`generate` writes tests/outputs/table.tsv; `check` (a ctest) runs the same
cases and names every row whose exit code, stdout, stderr or written files
differ from the table, every row gone and every new row.  A change of output
that is meant is made by running `generate` and committing the table with
the change, which shows the changed rows in the diff.

Inputs, all kept in the tree or made by it deterministically: the real test
fonts (--fonts, default BUILD_DIR/testfonts, as tests/fonts/make_test_fonts.py
--full makes them; their own digests are rows too), the small fonts and
difference files of the test builders (outputs_aid inputs), the difference
files `patool make` writes from each pair, the kept fuzz regressions, and
MUTANTS structure-aware mutations of the small pairs (directory records, name
table counts and offsets, difference-file records and block lists, cuts,
appended bytes) drawn from a fixed seed.  Each case runs `show FILE.pa`,
`show FILE.pa --font FONT`, `apply FONT FILE.pa OUT` and `check OLD FILE.pa
NEW`, or `make OLD NEW OUT`.  The fuzz entries (fuzz/entries.cpp) run on the
regressions kept for them, on the fonts and difference files of the cases and
on the mutants of the pair they are set up with.

The kept table holds MUTANTS mutants, enough to run at every build.  For a
wider sweep before a risky change, tabulate many more at the commit before
it and check the change against that table, both builds made from their own
commit:

    outputs.py generate --build OLD_BUILD --mutants 5000 --table /tmp/wide.tsv
    outputs.py check    --build NEW_BUILD --mutants 5000 --table /tmp/wide.tsv

(--seed draws other mutants).

Exit codes: 0 as tabled, 1 rows differ, 2 cannot run, 77 no real test fonts
(skipped, unless REQUIRE_REAL_FONTS is set, when it is 2).
"""

import argparse
import concurrent.futures as futures
import hashlib
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TABLE = os.path.join(HERE, "table.tsv")
SEED = 25
MUTANTS = 200
COMMAND_TIMEOUT = 300
NAME_RECORD, DIFF_HEADER, DIFF_RECORD = 12, 53, 18
FONT_ENTRIES = ("revise_font", "load_font", "is_target_font")
DIFF_ENTRIES = ("revise_diff", "read_file", "read_header")

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


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


def u16(b, at):
    return struct.unpack_from(">H", b, at)[0] if at + 2 <= len(b) else 0


def u32(b, at):
    return struct.unpack_from(">I", b, at)[0] if at + 4 <= len(b) else 0


def read(path):
    with open(path, "rb") as f:
        return f.read()


# ---------------------------------------------------------------------------
# Cases.  A case is a name and up to three inputs: the installed font, the
# difference file, and the release that `check` compares with.


class Case:
    def __init__(self, name, font=None, pa=None, new=None, make=None):
        self.name = name
        self.files = {}  # file name in the case folder -> bytes or a host path
        if font is not None:
            self.files["font.otf"] = font
        if pa is not None:
            self.files["diff.pa"] = pa
        if new is not None:
            self.files["new.otf"] = new
        if make:
            self.files["old.otf"], self.files["rev.otf"] = make
        self.make = make

    def commands(self):
        if self.make:
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


def font_groups(font_dirs):
    """(pairs, singles) of the font folders: X.otf with X.rev.otf, or alone,
    each with the X.*.pa files beside it."""
    pairs, singles = [], []
    for group, folder in font_dirs:
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
    return pairs, singles


def kept_cases(font_dirs, made_dir, patool):
    """The kept inputs' cases.  Difference files are made by `make` into
    made_dir first; `make` itself is a case."""
    pairs, singles = font_groups(font_dirs)
    cases, made, materials = [], {}, {}
    for label, old, rev, _ in pairs:
        out = os.path.join(made_dir, label.replace("/", "_") + ".made.pa")
        r = subprocess.run([patool, "make", old, rev, out], capture_output=True)
        if r.returncode == 0:
            made[label] = out
        cases.append(Case("%s make" % label, make=(old, rev)))
    for label, old, rev, pas in pairs:
        for pa in ([made[label]] if label in made else []) + pas:
            cases.append(Case("%s %s" % (label, os.path.basename(pa)), old, pa, rev))
        # The release as the installed font: already revised.
        if label in made:
            cases.append(Case("%s rev-with-own" % label, rev, made[label], rev))
        if os.path.getsize(old) < 1 << 20 and label in made:
            materials[label] = (read(old), read(made[label]), read(rev))
    for label, old, pas in singles:
        for pa in pas:
            cases.append(Case("%s %s" % (label, os.path.basename(pa)), old, pa))
    # Every font with a difference file that is not its own.
    fonts = [(l, o) for l, o, _, _ in pairs] + [(l, o) for l, o, _ in singles]
    releases = dict((l, r) for l, _, r, _ in pairs)
    for label, old in fonts:
        for other, pa in sorted(made.items())[:3]:
            if other != label:
                cases.append(Case("%s with %s" % (label, os.path.basename(pa)), old, pa, releases[other]))
    return cases, made, materials


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
    return Case("mutant/%d %s %s" % (k, label, ",".join(steps)), bytes(font), bytes(pa), bytes(new))




# ---------------------------------------------------------------------------
# Running.  A row is (name, exit, stdout, stderr, files), the last three as
# digests ("-" for nothing).

def snapshot(folder):
    state = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        state[normalise(name.encode()).decode()] = read(path) if os.path.isfile(path) else b"<folder>"
    return state


def files_digest(changed, gone):
    if not changed and not gone:
        return "-"
    h = hashlib.sha256()
    for name in sorted(changed):
        h.update(b"%s\0%d\0" % (name.encode(), len(changed[name])) + changed[name])
    for name in gone:
        h.update(b"gone\0%s\0" % name.encode())
    return h.hexdigest()[:16]


_SCRATCH = None


def init_worker(scratch):
    global _SCRATCH
    _SCRATCH = tempfile.mkdtemp(prefix="case-", dir=scratch)


def run_case(job):
    patool, case = job
    folder = _SCRATCH
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, content in case.files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(read(content) if isinstance(content, str) else content)
    rows = []
    before = snapshot(folder)
    env = dict(os.environ, LC_ALL="C", LANG="C")
    for label, args in case.commands():
        try:
            r = subprocess.run([patool] + args, cwd=folder, capture_output=True, timeout=COMMAND_TIMEOUT, env=env)
            outcome = (str(r.returncode), normalise(r.stdout), normalise(r.stderr))
        except subprocess.TimeoutExpired:
            outcome = ("timeout", b"", b"")
        after = snapshot(folder)
        changed = {n: v for n, v in after.items() if before.get(n) != v}
        gone = sorted(n for n in before if n not in after)
        rows.append(("%s | %s" % (case.name, label), outcome[0],
                     digest(outcome[1]) if outcome[1] else "-", digest(outcome[2]) if outcome[2] else "-",
                     files_digest(changed, gone)))
        before = after
    return rows


def entry_rows(aid, font_dir, work, sources):
    """The fuzz entries' answers: exit is the engine's result, stdout the
    digest of the answer with its fault text, files the font built."""
    rows = []
    for entry, files in sorted(sources.items()):
        out = os.path.join(work, "entries", entry)
        os.makedirs(out)
        paths = [p for _, p in files]
        r = subprocess.run([aid, "entry", font_dir, entry, out] + paths, capture_output=True)
        if r.returncode != 0:
            raise RuntimeError("entry %s: outputs_aid failed (exit %d): %s" % (
                entry, r.returncode, r.stderr.decode(errors="replace")[-300:]))
        for i, (label, _) in enumerate(files):
            answer = read(os.path.join(out, "%d.result" % i))
            result = re.match(rb"result (-?\d+)", answer)
            font = os.path.join(out, "%d.font" % i)
            rows.append(("entry %s | %s" % (entry, label), result.group(1).decode() if result else "?",
                         digest(answer), "-", digest(read(font)) if os.path.exists(font) else "-"))
    return rows


def entry_sources(regressions, font_dirs, made, mutant_dir):
    sources = {}
    for entry in sorted(os.listdir(regressions)):
        folder = os.path.join(regressions, entry)
        sources[entry] = [("regressions/%s/%s" % (entry, n), os.path.join(folder, n)) for n in sorted(os.listdir(folder))]
    pairs, singles = font_groups(font_dirs)
    fonts = [(l + ".otf", o) for l, o, _, _ in pairs] + [(l + ".otf", o) for l, o, _ in singles]
    fonts += [(l + ".rev.otf", r) for l, _, r, _ in pairs]
    pas = [(l + "." + os.path.basename(p).split(".", 1)[1], p) for l, _, _, ps in pairs for p in ps]
    pas += [(l + "." + os.path.basename(p).split(".", 1)[1], p) for l, _, ps in singles for p in ps]
    pas += [(l + ".made.pa", p) for l, p in sorted(made.items())]
    for entry in FONT_ENTRIES:
        sources.setdefault(entry, []).extend(sorted(fonts))
    for entry in DIFF_ENTRIES:
        sources.setdefault(entry, []).extend(sorted(pas))
    for name in sorted(os.listdir(mutant_dir), key=lambda n: (n.split(".")[1], int(n.split(".")[0]))):
        k, kind = name.split(".")
        entry = "revise_font" if kind == "font" else "revise_diff"
        sources.setdefault(entry, []).append(("mutant %s" % k, os.path.join(mutant_dir, name)))
    return sources


def compute(build, fonts, regressions, work, jobs, mutants, seed):
    patool, aid = os.path.join(build, "tools", "patool"), os.path.join(build, "tests", "outputs_aid")
    for tool in (patool, aid):
        if not os.access(tool, os.X_OK):
            raise RuntimeError("%s is not built" % tool)
    shutil.rmtree(work, ignore_errors=True)
    made_dir, aid_dir, mutant_dir = (os.path.join(work, d) for d in ("made", "aid", "mutants"))
    for d in (made_dir, aid_dir, mutant_dir):
        os.makedirs(d)
    if subprocess.run([aid, "inputs", aid_dir]).returncode != 0:
        raise RuntimeError("outputs_aid inputs failed")
    font_dirs = [("fonts", fonts), ("aid", aid_dir)]
    rows = []
    for group, folder in font_dirs:
        for name in sorted(n for n in os.listdir(folder) if not n.startswith(".")):
            rows.append(("input %s/%s" % (group, name), "-", digest(read(os.path.join(folder, name))), "-", "-"))
    cases, made, materials = kept_cases(font_dirs, made_dir, patool)
    for k in range(mutants):
        case = unseen_case(seed, k, materials)
        cases.append(case)
        # Mutants of the pair the fuzz entries are set up with go to them too.
        label, steps = case.name.split()[1:3]
        if label.endswith("Gothic-Pro-W3"):
            for part, key in (("font", "font.otf"), ("pa", "diff.pa")):
                if part + ":" in steps:
                    with open(os.path.join(mutant_dir, "%d.%s" % (k, part)), "wb") as f:
                        f.write(case.files[key])
    scratch_root = "/dev/shm" if os.access("/dev/shm", os.W_OK) else work
    scratch = tempfile.mkdtemp(prefix="outputs-", dir=scratch_root)
    try:
        with futures.ProcessPoolExecutor(jobs, initializer=init_worker, initargs=(scratch,)) as pool:
            for case_rows in pool.map(run_case, [(patool, c) for c in cases], chunksize=1):
                rows.extend(case_rows)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    rows.extend(entry_rows(aid, fonts, work, entry_sources(regressions, font_dirs, made, mutant_dir)))
    return rows


# ---------------------------------------------------------------------------
# The table.

COLUMNS = ("case | command", "exit", "stdout", "stderr", "files")
HEADER = """# What patool and the fuzz entries answer on the kept inputs (digests: the
# first 16 hex digits of SHA-256; "-" for none).  Made by
#   tests/outputs/outputs.py generate --build build-test
# and checked by the ctest OutputsAsTabled; see tests/outputs/outputs.py.
"""


def write_table(path, rows):
    names = [r[0] for r in rows]
    if len(set(names)) != len(names):
        raise RuntimeError("two rows of one name: %s" % sorted(n for n in names if names.count(n) > 1)[:3])
    with open(path, "w") as f:
        f.write(HEADER)
        f.write("\t".join(COLUMNS) + "\n")
        for r in rows:
            f.write("\t".join(r) + "\n")


def read_table(path):
    rows = {}
    with open(path) as f:
        for line in f:
            if line.startswith("#") or line.startswith(COLUMNS[0]):
                continue
            fields = line.rstrip("\n").split("\t")
            rows[fields[0]] = tuple(fields)
    return rows


def compare(tabled, rows):
    """The differences, one line per row (and what changed in it)."""
    found = []
    now = {r[0]: r for r in rows}
    for name, row in ((r[0], r) for r in rows):
        old = tabled.get(name)
        if old is None:
            found.append("new row: %s  %s" % (name, "  ".join(row[1:])))
        elif old != row:
            what = ", ".join("%s %s -> %s" % (c, a, b) for c, a, b in zip(COLUMNS[1:], old[1:], row[1:]) if a != b)
            found.append("changed: %s  (%s)" % (name, what))
    for name in tabled:
        if name not in now:
            found.append("row gone: %s" % name)
    return found


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("mode", choices=("check", "generate"))
    p.add_argument("--build", required=True, help="the native build folder (tools/patool, tests/outputs_aid)")
    p.add_argument("--fonts", help="the real test fonts (default BUILD/testfonts)")
    p.add_argument("--table", default=TABLE)
    p.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    p.add_argument("--mutants", type=int, default=MUTANTS)
    p.add_argument("--seed", type=int, default=SEED)
    a = p.parse_args()
    build = os.path.abspath(a.build)
    fonts = os.path.abspath(a.fonts or os.environ.get("TEST_FONT_DIR") or os.path.join(build, "testfonts"))
    if not os.path.exists(os.path.join(fonts, "Sorame-Gothic-Full-W3.rev.otf")):
        print("outputs: no full set of real test fonts in %s (tests/fonts/make_test_fonts.py --full)" % fonts)
        return 2 if os.environ.get("REQUIRE_REAL_FONTS") else 77
    work = os.path.join(build, "outputs-work")
    try:
        rows = compute(build, fonts, os.path.join(ROOT, "fuzz", "regressions"), work, a.jobs, a.mutants, a.seed)
    except RuntimeError as e:
        print("outputs: %s" % e)
        return 2
    if a.mode == "generate":
        write_table(a.table, rows)
        print("outputs: %d rows written to %s" % (len(rows), a.table))
        return 0
    found = compare(read_table(a.table), rows)
    for line in found:
        print(line)
    print("outputs: %d rows, %s" % (len(rows), "%d differ from the table" % len(found) if found else "as tabled"))
    if found:
        print("(a change meant: tests/outputs/outputs.py generate --build %s, and commit the table)" % a.build)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
