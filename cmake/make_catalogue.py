#!/usr/bin/env python3
"""Makes the program's catalogue tables from the catalogue data file.

    make_catalogue.py DATA OUT.cpp OUT_COUNTS.h

Writes the four tables of 260-byte rows (product codes, notice lines, font
file names, difference-file names) as C++ source, and their row counts as a
header.  The rows are written as code page 932 bytes, escaped, so that the
source compiles to the same bytes whatever the compiler's execution
character set.  A data file that breaks a rule is refused with its file name
and line number, and nothing is written.
"""

import re
import sys
import unicodedata

ROW_SIZE = 260  # MAX_PATH: each row holds its string and a NUL
CODE = re.compile(r"^[0-9]{5}$")
FONT = re.compile(r"^([A-Za-z0-9-]+)\.otf$")
ESCAPES = {"n": "\n", '"': '"', "\\": "\\"}


class Refused(Exception):
    pass


def cp932(text, where):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError as e:
        raise Refused(f"{where}: {text[e.start:e.end]!r} (U+{ord(text[e.start]):04X}) is not in code page 932")


def fits(data, where, what):
    if len(data) >= ROW_SIZE:
        raise Refused(f"{where}: the {what} is {len(data)} bytes in code page 932; a row holds at most {ROW_SIZE - 1}")


def unquote(text, where):
    """A notice row: one double-quoted string with \\n, \\" and \\\\, then
    nothing but a comment."""
    if not text.startswith('"'):
        raise Refused(f'{where}: a notice row is one string in double quotes')
    out = []
    i = 1
    while i < len(text):
        c = text[i]
        if c == "\\":
            if i + 1 >= len(text) or text[i + 1] not in ESCAPES:
                raise Refused(f"{where}: unknown escape {text[i:i + 2]!r} (only \\n, \\\" and \\\\)")
            out.append(ESCAPES[text[i + 1]])
            i += 2
            continue
        if c == '"':
            rest = text[i + 1:].strip()
            if rest and not rest.startswith("#"):
                raise Refused(f"{where}: text after the closing quote")
            return "".join(out)
        if c == "\r":
            raise Refused(f"{where}: a carriage return; notice lines end in \\n alone")
        # A NUL would end the row where the program reads it; the others
        # would show as boxes or move the text.  Only \n breaks a line.
        if unicodedata.category(c) == "Cc":
            raise Refused(f"{where}: control character U+{ord(c):04X}; a notice row holds none but \\n")
        out.append(c)
        i += 1
    raise Refused(f"{where}: the string has no closing quote")


def parse(path):
    try:
        raw = open(path, "rb").read()
    except OSError as e:
        raise Refused(f"{path}: cannot be read: {e.strerror}")
    # Lines end in LF or CR LF.  A lone CR (old Mac line ends) would make the
    # whole file one line, refused for something else or for nothing.
    lone = re.search(rb"\r(?!\n)", raw)
    if lone:
        number = raw.count(b"\n", 0, lone.start()) + 1
        raise Refused(f"{path}:{number}: a carriage return without a line feed; lines end in LF or CR LF")
    fonts, notice = [], []
    section = None
    seen = {}
    for number, line_bytes in enumerate(raw.split(b"\n"), 1):
        where = f"{path}:{number}"
        try:
            line = line_bytes.decode("utf-8")
        except UnicodeDecodeError:
            raise Refused(f"{where}: the line is not UTF-8")
        line = line.rstrip("\r")
        stripped = line.strip()
        if section == "notice" and stripped.startswith('"'):
            text = unquote(stripped, where)
            fits(cp932(text, where), where, "notice row")
            notice.append((text, where))
            continue
        stripped = stripped.split("#", 1)[0].strip()
        if not stripped:
            continue
        if stripped in ("[fonts]", "[notice]"):
            section = stripped[1:-1]
            continue
        if section != "fonts":
            raise Refused(f"{where}: {'a notice row is one string in double quotes' if section else 'text before [fonts]'}")
        fields = stripped.split()
        if len(fields) != 3:
            raise Refused(f"{where}: {len(fields)} fields; a font line has three: product code, font file name, "
                          "difference-file name")
        code, font, diff = fields
        for field in fields:
            fits(cp932(field, where), where, f"name {field!r}")
        if not CODE.match(code):
            raise Refused(f"{where}: product code {code!r} is not five digits")
        m = FONT.match(font)
        if not m:
            raise Refused(f"{where}: font file name {font!r} is not letters, digits and hyphens followed by .otf")
        base = m.group(1)
        if diff != base + ".pa":
            raise Refused(f"{where}: difference-file name {diff!r} is not the font's base name followed by .pa "
                          f"({base}.pa)")
        # Windows does not tell names apart by case, so neither does this.
        for kind, key in (("product code", code), ("font", base.lower())):
            if (kind, key) in seen:
                raise Refused(f"{where}: the {kind} {fields[0] if kind == 'product code' else font!r} "
                              f"is already on line {seen[(kind, key)]}")
            seen[(kind, key)] = number
        fonts.append((code, font, diff, base, number, where))

    if not fonts:
        raise Refused(f"{path}: no fonts (a [fonts] section with one font per line)")
    if not notice:
        raise Refused(f"{path}: no notice rows (a [notice] section)")
    # The search matches installed files by base-name prefix: a base name
    # that begins another would put one file on two rows.
    for _, font, _, base, number, where in fonts:
        for _, other, _, other_base, other_number, _ in fonts:
            if other_number != number and other_base.lower().startswith(base.lower()):
                raise Refused(f"{where}: the base name {base!r} is a prefix of {other_base!r} on line {other_number}")
    heading, heading_where = notice[0]
    numbers = re.findall(r"[0-9]+", heading)
    if str(len(fonts)) not in numbers:
        raise Refused(f"{heading_where}: the notice heading names {' and '.join(numbers) or 'no number of fonts'}, "
                      f"but the catalogue has {len(fonts)} fonts")
    return fonts, notice


def literal(data):
    """A C string literal of the bytes: printable ASCII as it is, the rest as
    three-digit octal escapes (which never run into the next character)."""
    out = []
    for b in data:
        if b in (0x22, 0x5C):
            out.append("\\" + chr(b))
        elif 0x20 <= b < 0x7F and b != 0x3F:  # no ?: trigraphs
            out.append(chr(b))
        else:
            out.append(f"\\{b:03o}")
    return '"' + "".join(out) + '"'


def comment(text):
    return text.replace("\n", "\\n").replace("*/", "* /")


def generate(path, fonts, notice):
    def table(name, count, rows):
        lines = [f"const char {name}[{count}][kCatalogueRowSize] = {{"]
        for text in rows:
            quoted = literal(text.encode("cp932"))
            # Rows that are not plain ASCII are shown as they read.
            lines.append(f"    {quoted}," + ("" if quoted == f'"{text}"' else f"  /* {comment(text)} */"))
        lines.append("};")
        return "\n".join(lines)

    source = "\n\n".join([
        f"// Generated from {path.split('/')[-1]} by make_catalogue.py; edit the data file, not this.\n"
        '#include "discovery/catalogue.h"',
        table("g_productCodes", "kCatalogueFontCount", [f[0] for f in fonts]),
        table("g_noticeLines", "kNoticeLineCount", [n[0] for n in notice]),
        table("g_fontFileNames", "kCatalogueFontCount", [f[1] for f in fonts]),
        table("g_diffFileNames", "kCatalogueFontCount", [f[2] for f in fonts]),
    ]) + "\n"
    counts = (f"// Generated from {path.split('/')[-1]} by make_catalogue.py; edit the data file, not this.\n"
              "#pragma once\n\n"
              f"static const int kCatalogueFontCount = {len(fonts)};\n"
              f"static const int kNoticeLineCount = {len(notice)};\n")
    return source, counts


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def main(argv):
    if len(argv) != 4:
        print("usage: make_catalogue.py DATA OUT.cpp OUT_COUNTS.h", file=sys.stderr)
        return 2
    try:
        fonts, notice = parse(argv[1])
    except Refused as e:
        print(f"catalogue refused: {e}", file=sys.stderr)
        return 1
    source, counts = generate(argv[1], fonts, notice)
    write(argv[2], source)
    write(argv[3], counts)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
