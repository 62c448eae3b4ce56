#!/usr/bin/env python3
"""Mutants generated from the code of src/, written as a mutation list for tools/mutate.sh.

    tools/mutants.py [--sample N] [--seed S] [--with-tables] [--count] [ROOT]

Every unit of src/ that this build compiles (PlatformWindows.cpp is left out) is read with a small lexer
that skips comments, string and character literals, preprocessor lines and static_assert. Three kinds of
mutant come out of it:

  compare    each comparison flipped and relaxed: == and != swap; < becomes >= and <=, <= becomes > and <,
             and the same for > and >= (only a sign with a space on each side: that is a comparison, not a
             template bracket)
  constant   each integer literal one more and one less, in its own base and with its own suffix
  delete     each statement of a function body deleted, unless it declares something, returns a value
             or starts with a keyword that controls a statement (if, for, case ...): those would not compile
             or not be one statement

The rows of the element tables (one ID, name, level and type a row) are data, not logic, and are left
out unless --with-tables: a wrong row is found by a file that holds the element.

Each mutant is one line FILE<TAB>ORIGINAL<TAB>REPLACEMENT, where ORIGINAL is the shortest run of whole lines
around the change that occurs once in its file; so the line is also a stable name for the mutant while that
code is unchanged. A line break in a field is written \\n, a TAB \\t and a backslash \\\\.
--sample N draws N of them at random (seeded by --seed, default 1), in the order of the files; --count
prints how many there are of each kind and file instead.
"""
import argparse
import random
import re
import sys
from pathlib import Path

SKIPPED_UNITS = {"PlatformWindows.cpp"}
PUNCTUATORS = sorted("<<= >>= ... -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= :: ##".split(),
                     key=len, reverse=True)
COMPARISONS = {"==": ["!="], "!=": ["=="], "<": [">=", "<="], "<=": [">", "<"],
               ">": ["<=", ">="], ">=": ["<", ">"]}
INTEGER = re.compile(r"(0[xX][0-9a-fA-F']+|[1-9][0-9']*|0)([uUlL]*)$")
CONTROL = {"if", "else", "for", "while", "do", "switch", "case", "default", "goto", "using", "typedef",
           "template", "struct", "class", "enum", "namespace", "static_assert", "public", "private",
           "protected", "friend", "try", "catch"}
QUALIFIERS = {"const", "constexpr", "static", "thread_local", "volatile", "unsigned", "signed", "long",
              "short", "inline", "mutable"}
BODY_AFTER = {")", "const", "noexcept", "override", "final", "mutable"}


def tokens(text):
    """(kind, start, end) for each token; kind is 'id', 'num', 'str' or 'punct'."""
    i, n, line_start = 0, len(text), True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c.isspace():
            i += 1
            continue
        if c == "#" and line_start:  # a preprocessor line, with its continuations
            while i < n and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            continue
        line_start = False
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            i = text.find("*/", i + 2) + 2
        elif c in "\"'" or (text.startswith('R"', i)):
            start = i
            if c == "R":
                delimiter = text[i + 2:text.find("(", i)]
                i = text.find(")" + delimiter + '"', i) + len(delimiter) + 2
            else:
                i += 1
                while text[i] != c:
                    i += 2 if text[i] == "\\" else 1
                i += 1
            yield "str", start, i
        elif c.isalpha() or c == "_":
            start = i
            while i < n and (text[i].isalnum() or text[i] == "_"):
                i += 1
            if i < n and text[i] in "\"'" and text[start:i] in ("u8", "u", "U", "L"):
                continue  # a prefixed literal: the quote comes next
            yield "id", start, i
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            start = i
            while i < n and (text[i].isalnum() or text[i] in "._'" or
                             (text[i] in "+-" and text[i - 1] in "eEpP")):
                i += 1
            yield "num", start, i
        else:
            length = next((len(p) for p in PUNCTUATORS if text.startswith(p, i)), 1)
            yield "punct", i, i + length
            i += length


def shifted(literal, step):
    """The integer literal `literal` plus `step`, in the same base and with the same suffix."""
    digits, suffix = INTEGER.match(literal).groups()
    plain = digits.replace("'", "")
    value = int(plain, 16 if plain[:2] in ("0x", "0X") else 10) + step
    if value < 0:
        return "-1" + suffix
    if plain[:2] in ("0x", "0X"):
        width = len(plain) - 2
        text = format(value, "0%d%s" % (width, "x" if plain[2:] != plain[2:].upper() else "X"))
        return plain[:2] + text + suffix
    return str(value) + suffix


def is_declaration(toks):
    """Whether a statement (a list of token texts) starts by declaring a name."""
    i = 0
    while i < len(toks) and toks[i] in QUALIFIERS:
        i += 1
    if i < len(toks) and toks[i] == "auto":
        return True
    if i >= len(toks) or not re.match(r"[A-Za-z_]", toks[i]):
        return False
    i += 1
    while i < len(toks):
        if toks[i] == "::" and i + 1 < len(toks):
            i += 2
        elif toks[i] == "<":
            depth = 0
            while i < len(toks):
                depth += {"<": 1, ">": -1, ">>": -2}.get(toks[i], 0)
                i += 1
                if depth <= 0:
                    break
        else:
            break
    while i < len(toks) and toks[i] in ("&", "*", "&&", "const"):
        i += 1
    return (i + 1 < len(toks) and re.match(r"[A-Za-z_]", toks[i]) is not None and
            toks[i + 1] in ("=", ";", "{", "(", "[", ","))


def sites(text, with_tables):
    """(kind, start, end, replacement) for each mutation of one file."""
    toks = list(tokens(text))
    braces = []  # for each open brace: 'body' (a function's), 'table' or 'other'
    parens = 0
    statement = None  # index of the first token of the statement being read, in a function body
    skip_until = -1  # the end of a static_assert
    for k, (kind, start, end) in enumerate(toks):
        word = text[start:end]
        previous = text[toks[k - 1][1]:toks[k - 1][2]] if k > 0 else ""
        in_body = "body" in braces
        if word == "static_assert":
            depth, j = 0, k + 1
            while j < len(toks):
                depth += {"(": 1, ")": -1}.get(text[toks[j][1]:toks[j][2]], 0)
                if depth == 0:
                    break
                j += 1
            skip_until = toks[j][2] if j < len(toks) else len(text)
        if start < skip_until:
            continue
        if word == "{":
            if in_body:
                braces.append("block")
            elif previous in BODY_AFTER:
                braces.append("body")
            elif "ElementTableRow" in [text[s:e] for _, s, e in toks[max(0, k - 6):k]]:
                braces.append("table")
            else:
                braces.append("other")
            statement = None
            continue
        if word == "}":
            if braces:
                braces.pop()
            statement = None
            continue
        if word == "(":
            parens += 1
        elif word == ")":
            parens -= 1
        if in_body and statement is None and parens == 0 and word != ";":
            statement = k
        if in_body and word == ";" and parens == 0:
            if statement is not None:
                words = [text[s:e] for _, s, e in toks[statement:k + 1]]
                if (words[0] not in CONTROL and not (words[0] == "return" and len(words) > 2) and
                        ":" not in words[:2] and not is_declaration(words)):
                    yield "delete", toks[statement][1], end, ""
            statement = None
            continue
        if "table" in braces and not with_tables:
            continue
        if kind == "punct" and word in COMPARISONS and text[start - 1].isspace() and text[end].isspace():
            for other in COMPARISONS[word]:
                yield "compare", start, end, other
        elif kind == "num" and INTEGER.match(word):
            for step in (1, -1):
                yield "constant", start, end, shifted(word, step)


def unique_context(text, start, end):
    """The shortest run of whole lines (from the first non-blank character) around [start, end) that occurs
    once in the text; expands downwards and upwards in turn."""
    first = text.rfind("\n", 0, start) + 1
    last = text.find("\n", end)
    last = len(text) if last < 0 else last
    up = True
    while True:
        begin = first + len(text[first:start]) - len(text[first:start].lstrip())
        context = text[begin:last]
        if text.count(context) == 1 or (first == 0 and last == len(text)):
            return begin, last
        if (up and first > 0) or last == len(text):
            first = text.rfind("\n", 0, first - 1) + 1
        else:
            following = text.find("\n", last + 1)
            last = len(text) if following < 0 else following
        up = not up


def escape(field):
    return field.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def mutants(root, with_tables):
    """(file, kind, original, replacement) for every mutant, in file order."""
    seen = set()
    for path in sorted((root / "src").iterdir()):
        if path.suffix not in (".cpp", ".h") or path.name in SKIPPED_UNITS:
            continue
        name = path.relative_to(root).as_posix()
        text = path.read_text(encoding="utf-8")
        for kind, start, end, replacement in sites(text, with_tables):
            begin, last = unique_context(text, start, end)
            original = text[begin:last]
            mutated = text[begin:start] + replacement + text[end:last]
            if (name, original, mutated) not in seen:
                seen.add((name, original, mutated))
                yield name, kind, original, mutated


def main():
    parser = argparse.ArgumentParser(description="Mutants generated from src/, as a mutation list.")
    parser.add_argument("root", nargs="?", default=Path(__file__).resolve().parent.parent, type=Path)
    parser.add_argument("--sample", type=int, help="draw this many mutants at random")
    parser.add_argument("--seed", type=int, default=1, help="the seed of the draw (default 1)")
    parser.add_argument("--with-tables", action="store_true", help="mutate the element tables too")
    parser.add_argument("--count", action="store_true", help="count the mutants of each kind and file")
    options = parser.parse_args()
    every = list(mutants(options.root, options.with_tables))
    if options.count:
        counts = {}
        for name, kind, _, _ in every:
            counts[(name, kind)] = counts.get((name, kind), 0) + 1
        for (name, kind), count in sorted(counts.items()):
            print("%-28s %-9s %d" % (name, kind, count))
        print("%d mutants" % len(every))
        return 0
    chosen = range(len(every))
    if options.sample is not None and options.sample < len(every):
        chosen = sorted(random.Random(options.seed).sample(range(len(every)), options.sample))
    print("# %d of %d generated mutants%s" % (len(chosen), len(every), "" if options.sample is None else
                                                ", seed %d" % options.seed))
    for index in chosen:
        name, kind, original, mutated = every[index]
        print("%s\t%s\t%s" % (name, escape(original), escape(mutated)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
