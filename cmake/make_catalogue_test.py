#!/usr/bin/env python3
"""The catalogue generator refuses every kind of bad row, naming its line,
and writes nothing then; a good file passes.

    make_catalogue_test.py path/to/make_catalogue.py
"""

import os
import subprocess
import sys
import tempfile

GOOD = """# a catalogue of two fonts
[fonts]
10001  Tone-Sans-W3.otf   Tone-Sans-W3.pa
10002  Tone-Serif-W5.otf  Tone-Serif-W5.pa

[notice]
"下記2フォントが改訂対象です。\\n\\n"   # the heading
"　　・トーン Sans W3／Serif W5\\n"
""
"""

# (what, the line to put in place of GOOD's line, or to add at its end;
#  the line the refusal must name; a word of its message)
CASES = [
    ("260 bytes in code page 932", (8, '"' + "あ" * 130 + '"'), 8, "260 bytes"),
    ("a long file name", (3, "10001  " + "T" * 256 + ".otf  " + "T" * 256 + ".pa"), 3, "260"),
    ("the same font twice, in another case", (4, "10002  tone-sans-w3.otf  tone-sans-w3.pa"), 4, "already on line 3"),
    ("the same product code twice", (4, "10001  Tone-Serif-W5.otf  Tone-Serif-W5.pa"), 4, "already on line 3"),
    ("a base name that begins another", (4, "10002  Tone-Sans-W3-Bold.otf  Tone-Sans-W3-Bold.pa"), 3, "prefix"),
    ("a font line with a field missing", (4, "10002  Tone-Serif-W5.otf"), 4, "three"),
    ("a font line with a field too many", (4, "10002  Tone-Serif-W5.otf  Tone-Serif-W5.pa  x"), 4, "three"),
    ("a heading that counts other fonts", (7, '"下記3フォントが改訂対象です。\\n\\n"'), 7, "2 fonts"),
    ("a character not in code page 932", (8, '"　　・トーン Sans W3／Serif W5 é\\n"'), 8, "code page 932"),
    ("a byte that is not UTF-8", (8, b'"\xff"'), 8, "UTF-8"),
    ("another difference-file name", (4, "10002  Tone-Serif-W5.otf  Tone-Serif.pa"), 4, "base name"),
    ("not five digits", (4, "1002  Tone-Serif-W5.otf  Tone-Serif-W5.pa"), 4, "five digits"),
    ("a space in a file name", (4, "10002  Tone Serif-W5.otf  Tone-Serif-W5.pa"), 4, "fields"),
    ("an unquoted notice row", (9, "下記のフォント"), 9, "double quotes"),
    ("an unknown escape", (9, '"\\t"'), 9, "escape"),
    ("no closing quote", (9, '"open'), 9, "closing quote"),
    ("a NUL in a notice row", (8, '"　　・トーン\0Sans"'), 8, "U+0000"),
    ("an escape character in a notice row", (8, '"\x1b[1mトーン"'), 8, "control character"),
    ("a line that ends in CR alone", (5, b"\r\r"), 5, "carriage return"),
]


def run(generator, data, folder):
    path = os.path.join(folder, "catalogue.txt")
    with open(path, "wb") as f:
        f.write(data)
    outputs = [os.path.join(folder, "catalogue.cpp"), os.path.join(folder, "catalogue_counts.h")]
    for o in outputs:
        if os.path.exists(o):
            os.remove(o)
    r = subprocess.run([sys.executable, generator, path] + outputs, capture_output=True, text=True)
    return r.returncode, r.stderr, [os.path.exists(o) for o in outputs]


def main():
    generator = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as folder:
        code, err, written = run(generator, GOOD.encode("utf-8"), folder)
        if code != 0 or not all(written):
            failures.append(f"the good file: exit {code}, {err.strip()}")
        # Old Mac line ends: one line to a reader of LF, refused as such.
        code, err, written = run(generator, GOOD.replace("\n", "\r").encode("utf-8"), folder)
        if code == 0 or any(written) or "catalogue.txt:1:" not in err or "carriage return" not in err:
            failures.append(f"CR-only line ends: exit {code}, {err.strip()}")
        for what, (line, text), named, word in CASES:
            lines = GOOD.encode("utf-8").split(b"\n")
            text = text if isinstance(text, bytes) else text.encode("utf-8")
            if line <= len(lines):
                lines[line - 1] = text
            else:
                lines.append(text)
            code, err, written = run(generator, b"\n".join(lines), folder)
            if code == 0 or any(written):
                failures.append(f"{what}: accepted (exit {code})")
            elif f"catalogue.txt:{named}:" not in err or word not in err:
                failures.append(f"{what}: the message does not name line {named} and '{word}': {err.strip()}")
    for f in failures:
        print("FAILED", f)
    print(f"{len(CASES) + 2 - len(failures)} of {len(CASES) + 2} cases right")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
