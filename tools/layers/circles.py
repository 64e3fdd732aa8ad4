#!/usr/bin/env python3
"""Reads the includes and calls between the game's source files and reports
every circle (a group of files that reach each other through includes or
calls). A header and its .cpp count as one file. Exits 1 when a circle is
larger than the limit or a file of the state layer includes a file above it.

usage: circles.py [--max N] [--verbose] SRC_DIR
"""
import os
import re
import sys

# Layers from the bottom up; a folder's files may use only its own layer and those below.
# The ranking service, shared with kv-rankd, stands on the platform alone.
LAYERS = [["platform"], ["rank_service"], ["state", "replay"], ["assets", "effects"], ["combat", "stages"], ["menus", "ranking"], ["shell"]]
LAYER_OF = {d: i for i, ds in enumerate(LAYERS) for d in ds}

DEF = re.compile(r"^(?:[A-Za-z_][\w:<>,*&\s]*?[\s*&])?([A-Z]\w*)\s*\(([^;{}]*)\)\s*(?:const\s*)?\{", re.M)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
COMMENT = re.compile(r"//[^\n]*|/\*.*?\*/", re.S)
STRING = re.compile(r'"(?:\\.|[^"\\])*"')


def unit(path, src):
    rel = os.path.relpath(path, src)
    return os.path.splitext(rel)[0]


def read(src):
    texts = {}
    for root, _, files in os.walk(src):
        for f in files:
            if f.endswith((".cpp", ".h")):
                p = os.path.join(root, f)
                with open(p, encoding="utf-8") as fh:
                    texts[p] = fh.read()
    return texts


def block_end(code, open_brace):
    depth, i = 0, open_brace
    while i < len(code):
        if code[i] == "{":
            depth += 1
        elif code[i] == "}":
            depth -= 1
            if depth == 0:
                break
        i += 1
    return i


def namespace_ranges(code):
    return [(m.start(), block_end(code, m.end() - 1), m.group(1))
            for m in re.finditer(r"\bnamespace\s+(\w+)\s*\{", code)]


def private_ranges(code):
    """Spans of unnamed namespaces: their functions are private to the file."""
    out = []
    for m in re.finditer(r"\bnamespace\s*\{", code):
        out.append((m.start(), block_end(code, m.end() - 1)))
    return out


NOT_A_TYPE = {"return", "else", "case", "throw", "new", "delete", "co_return", "and", "or", "not"}


def called_names(body):
    """Free functions called in a file: not member calls (a.F(), p->F(), X::F())
    and not declarations (a type word before the name)."""
    names = set()
    for m in re.finditer(r"(?<![.>:\w])([A-Z]\w*)\s*\(", body):
        before = re.search(r"(\w+)[\s*&]+$", body[max(0, m.start() - 60): m.start()])
        if before and before.group(1) not in NOT_A_TYPE:
            continue
        names.add(m.group(1))
    return names


def graph(src):
    texts = read(src)
    defs = {}  # function name -> units that define it, for functions other files can call
    for p, t in texts.items():
        if p.endswith(".cpp"):
            code = COMMENT.sub("", t)
            hidden = private_ranges(code)
            named = [(a, b, ns) for a, b, ns in namespace_ranges(code)]
            for m in DEF.finditer(code):
                name, head = m.group(1), m.group(0)
                if name in ("if", "for", "while", "switch", "return"):
                    continue
                # Member functions, static functions and those in an unnamed
                # namespace are not reached by a plain call from another file.
                if re.search(r"::\s*" + name + r"\s*\($", head[: head.index("(", head.index(name)) + 1]):
                    continue
                if re.match(r"\s*static\b", head) or any(a <= m.start() < b for a, b in hidden):
                    continue
                ns = next((n for a, b, n in named if a <= m.start() < b), None)
                defs.setdefault(name, set()).add((unit(p, src), ns))
    edges = {}
    for p, t in texts.items():
        u = unit(p, src)
        out = edges.setdefault(u, set())
        for inc in INCLUDE.findall(t):
            if os.path.exists(os.path.join(src, inc)):
                out.add(os.path.splitext(inc)[0])
        body = STRING.sub('""', COMMENT.sub("", t))
        for name in called_names(body):
            for d, ns in defs.get(name, ()):
                # A function in a named namespace is reached only by files that name it.
                if ns is None or re.search(r"\b%s\b" % ns, body):
                    out.add(d)
        out.discard(u)
    return texts, edges


def circles(edges):
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            c = []
            while True:
                w = stack.pop()
                on.discard(w)
                c.append(w)
                if w == v:
                    break
            if len(c) > 1:
                out.append(sorted(c))

    sys.setrecursionlimit(10000)
    for v in sorted(edges):
        if v not in index:
            visit(v)
    return sorted(out, key=len, reverse=True)


def layer(u):
    return LAYER_OF.get(u.split("/")[0])


def main(argv):
    limit, verbose, args = 4, False, []
    i = 0
    while i < len(argv):
        if argv[i] == "--max":
            limit = int(argv[i + 1])
            i += 1
        elif argv[i] == "--verbose":
            verbose = True
        else:
            args.append(argv[i])
        i += 1
    if len(args) != 1:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    src = args[0]
    texts, edges = graph(src)
    found = circles(edges)
    bad = 0
    for c in found:
        print("circle of %d files: %s" % (len(c), " ".join(c)))
        if len(c) > limit:
            bad += 1
    print("largest circle: %d files (limit %d)" % (max([len(c) for c in found] or [0]), limit))
    # Upward uses: includes and calls from a lower layer into a higher one.
    for u in sorted(edges):
        for w in sorted(edges[u]):
            lu, lw = layer(u), layer(w)
            if lu is not None and lw is not None and lw > lu:
                print("upward: %s -> %s" % (u, w))
                if verbose or lu == LAYER_OF["state"]:
                    pass
                bad += 1
    for p, t in texts.items():
        if unit(p, src) == "state/game":
            for inc in INCLUDE.findall(t):
                lw = layer(os.path.splitext(inc)[0])
                if lw is not None and lw > LAYER_OF["state"]:
                    print("state/game includes %s, above the state layer" % inc)
                    bad += 1
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
