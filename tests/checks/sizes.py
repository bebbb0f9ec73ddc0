#!/usr/bin/env python3
"""No file too long to read, no function too long to follow.

    sizes.py SOURCE_ROOT

Fails on a source file (C, C++, Python, shell, CMake, resource script) of
more than MAX_FILE_LINES lines in the program's folders, tools/ or tests/, and on a C or C++ function of more than MAX_FUNCTION_LINES
lines anywhere outside tests/ (counted from the line of its name to its
closing brace).  The files and functions in TOLERATED are known and being
shortened: they are printed as warnings, and one that has come under its
limit is named so that it leaves the list.

Functions are found by matching braces on the source with its comments,
strings and preprocessor lines taken out: at namespace, class or extern "C"
level, a brace after a parameter list (and any qualifiers, trailing return
type or member initialisers) opens a function.  It does not see a function
made by a macro, a lambda at namespace level (an initialiser, skipped whole),
or a body whose braces a preprocessor branch unbalances; a trailing return
type with parentheses (decltype) names the wrong line as the function's
start.
"""

import pathlib
import re
import sys

MAX_FILE_LINES = 700
MAX_FUNCTION_LINES = 80
FILE_FOLDERS = ("app", "dialogs", "discovery", "driver", "engine", "platform", "res", "tools", "tests")
C_SUFFIXES = {".c", ".cpp", ".h"}
# Files written by hand; data (tables, fonts, images) is not read.
TEXT_SUFFIXES = C_SUFFIXES | {".py", ".sh", ".cmake", ".rc", ".ps1"}
SKIPPED = ("build", ".git")  # build folders of any name beginning so

# Known offenders, tolerated until the work that shortens them lands:
# (file, None) for a file, (file, function) for a function.
TOLERATED = set()


def sources(root, folders, suffixes=None):
    for folder in folders:
        for path in sorted((root / folder).rglob("*")):
            rel = path.relative_to(root)
            if not path.is_file() or any(part.startswith(SKIPPED) for part in rel.parts[:-1]):
                continue
            if suffixes is None or path.suffix in suffixes:
                yield rel.as_posix(), path


def strip(text):
    """The text with comments, string and character literals and
    preprocessor lines blanked, newlines kept so that lines still count."""
    out, i, n = [], 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            # A directive, with its continuation lines.
            j = i
            while j < n and (text[j] != "\n" or text[j - 1] == "\\"):
                j += 1
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
            continue
        if c == "\n":
            line_start = True
            out.append(c)
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_paren = text.find("(", i + 2)
            delimiter = text[i + 2:open_paren]
            j = text.find(")" + delimiter + '"', open_paren)
            j = n if j < 0 else j + len(delimiter) + 2
        elif c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum() and i + 1 < n and text[i + 1].isalnum()):
            # (a ' between digits is a digit separator)
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
        else:
            out.append(c)
            i += 1
            continue
        out.append(re.sub(r"[^\n]", " ", text[i:j]))
        i = j
    return "".join(out)


TOKEN = re.compile(r"[A-Za-z_]\w*|::|->|\S")
SCOPE_WORDS = {"namespace", "class", "struct", "union", "enum", "extern"}
QUALIFIERS = {"const", "override", "final", "noexcept", "volatile", "&", "&&", "mutable", "try"}


def tokens(text):
    line = 1
    at = 0
    for m in TOKEN.finditer(text):
        line += text.count("\n", at, m.start())
        at = m.start()
        yield m.group(0), line


def function_at(statement):
    """(name, line) when the tokens of a statement that a brace follows
    make a function's head, else None."""
    words = [t for t, _ in statement]
    if "(" not in words or ")" not in words or "=" in words[:words.index("(")]:
        return None
    # The parameter list: the last parenthesised group before the member
    # initialisers (a lone ':' after a ')') or before the qualifiers.
    end = len(words)
    depth = 0
    for i, w in enumerate(words):
        if w == "(":
            depth += 1
        elif w == ")":
            depth -= 1
        elif w == ":" and depth == 0 and i > 0 and words[i - 1] in QUALIFIERS | {")"}:
            end = i
            break
    close = max(i for i in range(end) if words[i] == ")")
    if any(w not in QUALIFIERS and not re.match(r"\w", w) and w not in ("->", "::", "<", ">", "*", ",")
           for w in words[close + 1:end]):
        return None
    depth = 0
    for i in range(close, -1, -1):
        depth += words[i] == ")"
        depth -= words[i] == "("
        if depth == 0:
            break
    if i == 0 or words[0] in ("if", "for", "while", "switch", "catch", "return"):
        return None
    j = i - 1
    name = words[j]
    if name == ")" and j >= 2 and words[j - 2] == "operator":
        name, j = "operator()", j - 2
    while j >= 2 and words[j - 1] == "::":
        j -= 2
        name = words[j] + "::" + name
    return name, statement[i - 1][1]


def functions(text):
    """(name, first line, last line) of every function of a C or C++ text."""
    found = []
    scopes = []  # True for a scope that holds declarations, False for a body or initialiser
    statement = []
    start = None
    for tok, line in tokens(strip(text)):
        in_declarations = all(scopes)
        if not in_declarations:
            if tok == "{":
                scopes.append(False)
            elif tok == "}":
                scopes.pop()
                if start and all(scopes):
                    found.append((start[0], start[1], line))
                    start = None
            continue
        if tok in (";", "}"):
            statement = []
            if tok == "}" and scopes:
                scopes.pop()
            continue
        if tok != "{":
            statement.append((tok, line))
            continue
        words = [t for t, _ in statement]
        head = function_at(statement)
        if head and words and re.match(r"\w", words[-1]) and words[-1] not in QUALIFIERS and ":" in words:
            # A member initialiser's brace, a{b}: passed over, the
            # statement going on to the body.
            statement += [("{", line), ("}", line)]
            scopes.append(False)
            continue
        if head:
            start = head
            scopes.append(False)
        elif set(words) & SCOPE_WORDS and "=" not in words and "(" not in words or words[:1] == ["extern"]:
            scopes.append(True)
        else:
            scopes.append(False)  # an initialiser or something this scan does not read
        statement = []
    return found


def check(root):
    faults, warnings, seen = [], [], set()

    def report(key, text):
        if key in TOLERATED:
            seen.add(key)
            warnings.append("tolerated: " + text)
        else:
            faults.append(text)

    for rel, path in sources(root, FILE_FOLDERS):
        if path.suffix not in TEXT_SUFFIXES and path.name != "CMakeLists.txt":
            continue
        lines = path.read_text(encoding="utf-8", errors="replace").count("\n")
        if lines > MAX_FILE_LINES:
            report((rel, None), f"{rel}: {lines} lines (at most {MAX_FILE_LINES})")
    folders = sorted(p.name for p in root.iterdir() if p.is_dir() and p.name != "tests" and not p.name.startswith(SKIPPED))
    for rel, path in sources(root, folders, C_SUFFIXES):
        for name, first, last in functions(path.read_text(encoding="utf-8", errors="replace")):
            length = last - first + 1
            if length > MAX_FUNCTION_LINES:
                report((rel, name), f"{rel}:{first}: {name} is {length} lines (at most {MAX_FUNCTION_LINES})")
    for key in sorted(TOLERATED - seen, key=str):
        warnings.append("no longer over its limit, to leave the list: %s%s" % (key[0], " " + key[1] if key[1] else ""))
    return faults, warnings


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    faults, warnings = check(pathlib.Path(sys.argv[1]).resolve())
    for w in warnings:
        print("warning: " + w)
    for f in faults:
        print(f, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
