#!/usr/bin/env python3
"""Keeps the layering of docs/ARCHITECTURE.md true: reads every #include of the product's sources
and fails, naming file and line, on an include that points up the layer order, into another
group's private folder, or at a system header outside the folders allowed to use one.

The layer table is read from the ```layers block of docs/ARCHITECTURE.md, so the document and the
check cannot drift apart.

    tools/check_layers.py [ROOT]        # ROOT defaults to the repository this script is in
"""
import os
import re
import sys

# The C and C++ standard library: allowed everywhere, they are not "system" headers.
C_HEADERS = {
    "assert.h", "complex.h", "ctype.h", "errno.h", "fenv.h", "float.h", "inttypes.h", "iso646.h",
    "limits.h", "locale.h", "math.h", "setjmp.h", "signal.h", "stdalign.h", "stdarg.h", "stdatomic.h",
    "stdbool.h", "stddef.h", "stdint.h", "stdio.h", "stdlib.h", "stdnoreturn.h", "string.h", "tgmath.h",
    "threads.h", "time.h", "uchar.h", "wchar.h", "wctype.h",
}
SOURCE_EXT = (".c", ".cc", ".cpp", ".h", ".hpp", ".rc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


class Group:
    def __init__(self, level, name, folders, system, private, uses=()):
        self.level, self.name, self.folders = level, name, folders
        self.system, self.private = system, private
        # Headers of a named third-party library the group may include (a permission
        # "uses:zlib.h"), without opening the door to the operating system's.
        self.uses = set(uses)


def read_table(root):
    """The groups of the layers block, each with its level, folders and permissions."""
    doc = os.path.join(root, "docs", "ARCHITECTURE.md")
    with open(doc, encoding="utf-8") as f:
        text = f.read()
    m = re.search(r"^```layers\n(.*?)^```", text, re.S | re.M)
    if not m:
        raise SystemExit("check_layers: no ```layers block in %s" % doc)
    groups = []
    for n, line in enumerate(m.group(1).splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        # level  name  folder... [system] [private] [uses:HEADER...]
        words = line.split()
        if len(words) < 3 or not words[0].isdigit():
            raise SystemExit("check_layers: cannot read line %d of the layers block: %r" % (n, line))
        flags = {w for w in words[2:] if w in ("system", "private")}
        uses = [w[len("uses:"):] for w in words[2:] if w.startswith("uses:")]
        folders = [w.rstrip("/") + "/" for w in words[2:]
                   if w not in ("system", "private") and not w.startswith("uses:")]
        groups.append(Group(int(words[0]), words[1], folders, "system" in flags, "private" in flags, uses))
    return groups


def group_of(path, groups):
    """The group whose folder is the longest prefix of path (relative, '/' separated)."""
    best, best_len = None, -1
    for g in groups:
        for folder in g.folders:
            if path.startswith(folder) and len(folder) > best_len:
                best, best_len = g, len(folder)
    return best


def is_standard(header):
    return "/" not in header and ("." not in header or header in C_HEADERS)


def check(root):
    groups = read_table(root)
    problems = []
    for g in groups:
        for folder in g.folders:
            base = os.path.join(root, folder)
            for dirpath, _, files in os.walk(base):
                for name in sorted(files):
                    if not name.endswith(SOURCE_EXT):
                        continue
                    full = os.path.join(dirpath, name)
                    rel = os.path.relpath(full, root).replace(os.sep, "/")
                    own = group_of(rel, groups)
                    if own is not g:
                        continue  # a deeper folder of another group owns it
                    problems += check_file(root, rel, own, groups)
    return problems


def check_file(root, rel, own, groups):
    problems = []
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        lines = f.readlines()
    for n, line in enumerate(lines, 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        kind, target = m.groups()
        where = "%s:%d: " % (rel, n)
        if kind == "<":
            if not is_standard(target) and not own.system and target not in own.uses:
                problems.append(where + "system header <%s> in %s, which may not use one" % (target, own.name))
            continue
        # A quoted include names a path from the root, or one beside the including file.
        resolved = target
        beside = os.path.normpath(os.path.join(os.path.dirname(rel), target)).replace(os.sep, "/")
        if not os.path.exists(os.path.join(root, target)) and os.path.exists(os.path.join(root, beside)):
            resolved = beside
        dest = group_of(resolved, groups)
        if dest is None or dest is own:
            continue
        if dest.level > own.level:
            problems.append(where + "\"%s\" points up: %s (level %d) may not include %s (level %d)" %
                            (target, own.name, own.level, dest.name, dest.level))
        elif dest.private:
            problems.append(where + "\"%s\" reaches into %s, which only its own folders may include" %
                            (target, dest.name))
        elif dest.level == own.level:
            problems.append(where + "\"%s\" crosses from %s to its peer %s" % (target, own.name, dest.name))
    return problems


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        print("check_layers: %d include(s) break the layering of docs/ARCHITECTURE.md" % len(problems))
        return 1
    print("check_layers: every include keeps the layering")
    return 0


if __name__ == "__main__":
    sys.exit(main())
