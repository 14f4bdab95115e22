#!/usr/bin/env python3
"""Fails, naming the include, where the product's code reaches up a layer.

The product's folders stand in layers, lowest first; a file includes only
its own folder and the layers below. So each subsystem can be read, tested
and changed knowing only what is under it, and no two depend on each
other. The folders of one layer do not include each other either. The
top layer is the executable's own files (entry/: WinMain and the terminate
handler), which nothing of the product includes.

Test support that the product's own build links on the host (the
simulated PC) stands beside the layers: it includes only itself and the
seam it implements, and nothing of the product includes it, nor anything
else under tests/. Tests, fuzz targets, tools and benchmarks stand above
everything.

It also reads the whole tree's include graph, every file of the
repository included, and fails on a cycle, between files or between the
folders that hold them.

The Python stands in the same way: the package winepe/ (PE images, Wine,
the host) is the lowest part, imported by scripts/, tests/wine/ and bench/
and importing nothing of theirs. Each Python file's imports of the
repository's modules (from the root, where the package stands, or from the
file's own folder, where a script finds its neighbours) join the include
graph, so a cycle through them fails as well; and no file edits sys.path:
the scripts are run with the root on PYTHONPATH.
"""
import ast
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

LAYERS = [
    ["platform"],                        # the seam to Windows and the toolkit over it
    ["runtime"],                         # text, threads, exceptions, the generator
    ["messages", "osinfo", "progress"],  # services the stages use
    ["environment"],                     # start-up, its process-wide values, the registry, discovery
    ["install"],                         # writing the package's files
    ["driver"],                          # the run from entry to exit
    ["entry"],                           # the executable's own files: WinMain, the terminate handler
]
# Test support and the only folders each may include besides itself.
TEST_SUPPORT = {
    "tests/sim": ["platform"],  # the simulated PC behind the seam
}
TESTS = "tests"
# The Python package every other folder's Python imports.
PACKAGE = "winepe"
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
CHECKED = sorted(list(RANK) + list(TEST_SUPPORT), key=len, reverse=True)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+/[^"]+)"', re.M)
ANY_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    """The checked folder a path stands in (the longest that holds it), or None."""
    for folder in CHECKED:
        if path.startswith(folder + "/"):
            return folder
    return None


def problems_in(folder, text):
    """The folders that a file in `folder` includes against the direction,
    each as (folder, why it may not)."""
    found = []
    for match in INCLUDE.finditer(text):
        path = match.group(1)
        target = folder_of(path)
        if target == folder:
            continue
        if folder in TEST_SUPPORT:
            if target not in TEST_SUPPORT[folder]:
                found.append((target or path.split("/", 1)[0], "test support"))
        elif path.startswith(TESTS + "/"):
            found.append((target or TESTS, "test code, which the product never includes"))
        elif target in RANK and RANK[target] >= RANK[folder]:
            found.append((target, "not below " + folder + "/"))
    return found


def include_graph(texts):
    """File -> the files of the tree it includes, each include read from the
    root or, failing that, from the including file's own folder."""
    graph = {}
    for name, text in texts.items():
        here = name.rsplit("/", 1)[0] + "/" if "/" in name else ""
        targets = set()
        for match in ANY_INCLUDE.finditer(text):
            for candidate in (match.group(1), here + match.group(1)):
                if candidate in texts:
                    targets.add(candidate)
                    break
        graph[name] = targets
    return graph


def cycles(graph):
    """The strongly connected parts of the graph that hold a cycle, each as a
    sorted list (Tarjan's algorithm, without recursion)."""
    index, low, on_stack, stack, found = {}, {}, set(), [], []
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = len(index)
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for nxt in successors:
                if nxt not in index:
                    index[nxt] = low[nxt] = len(index)
                    stack.append(nxt)
                    on_stack.add(nxt)
                    work.append((nxt, iter(sorted(graph.get(nxt, ())))))
                    advanced = True
                    break
                if nxt in on_stack:
                    low[node] = min(low[node], index[nxt])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                part = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    part.append(member)
                    if member == node:
                        break
                if len(part) > 1 or node in graph.get(node, ()):
                    found.append(sorted(part))
    return found


def python_imports(texts):
    """Python file -> the Python files of the tree it imports (a package's
    __init__.py too), each module looked for from the root and then from the
    importing file's own folder."""
    graph = {}
    for name, text in texts.items():
        here = name.rsplit("/", 1)[0] if "/" in name else ""
        wanted = []
        for node in ast.walk(ast.parse(text, name)):
            if isinstance(node, ast.Import):
                wanted += [(alias.name, "") for alias in node.names]
            elif isinstance(node, ast.ImportFrom):
                # from . import x: x of the file's own package; each further dot one package up.
                base = here.split("/")[:len(here.split("/")) + 1 - node.level] if node.level and here else []
                module = ".".join(base + ([node.module] if node.module else []))
                wanted += [(module, alias.name) for alias in node.names]
        targets = set()
        for module, member in wanted:
            parts = module.split(".") + ([member] if member else [])
            for folder in ("", here):
                for n in range(1, len(parts) + 1):
                    path = "/".join(([folder] if folder else []) + parts[:n])
                    targets |= {f for f in (path + ".py", path + "/__init__.py") if f in texts and f != name}
        graph[name] = targets
    return graph


def edits_sys_path(node):
    """Whether a node calls a method of sys.path or assigns to it or to an item of it."""
    if isinstance(node, ast.Call) and isinstance(node.func, ast.Attribute):
        changed = [node.func.value]
    else:
        changed = getattr(node, "targets", [])
    for target in changed:
        target = target.value if isinstance(target, ast.Subscript) else target
        if isinstance(target, ast.Attribute) and target.attr == "path" and getattr(target.value, "id", "") == "sys":
            return True
    return False


def python_problems(texts, graph):
    """Imports of the package from above it, and sys.path edits."""
    found = []
    for name in sorted(graph):
        if name.startswith(PACKAGE + "/"):
            found += [f"{name}: imports {t}, which stands above {PACKAGE}/" for t in sorted(graph[name])
                      if not t.startswith(PACKAGE + "/")]
        found += [f"{name}:{node.lineno}: edits sys.path; run it with the root on PYTHONPATH"
                  for node in ast.walk(ast.parse(texts[name], name)) if edits_sys_path(node)]
    return found


def folder_graph(graph):
    """The same graph between the folders that hold the files."""
    folders = {}
    for name, targets in graph.items():
        here = name.rsplit("/", 1)[0] if "/" in name else "."
        edges = folders.setdefault(here, set())
        for target in targets:
            there = target.rsplit("/", 1)[0] if "/" in target else "."
            if there != here:
                edges.add(there)
    return folders


def main():
    listed = subprocess.run(["git", "ls-files", "*.c", "*.cpp", "*.h"], cwd=ROOT, check=True, capture_output=True,
                            text=True).stdout.split()
    texts = {name: (ROOT / name).read_text(encoding="utf-8", errors="replace") for name in listed}
    problems = []
    for name in listed:
        folder = folder_of(name)
        if folder is None:
            continue
        for target, why in problems_in(folder, texts[name]):
            problems.append(f"{name}: includes {target}/, {why}")
    graph = include_graph(texts)
    python = subprocess.run(["git", "ls-files", "*.py"], cwd=ROOT, check=True, capture_output=True,
                            text=True).stdout.split()
    python_texts = {name: (ROOT / name).read_text(encoding="utf-8") for name in python}
    imports = python_imports(python_texts)
    problems += python_problems(python_texts, imports)
    graph.update(imports)
    for part in cycles(graph):
        problems.append("include cycle between files: " + ", ".join(part))
    folders = folder_graph(graph)
    for part in cycles(folders):
        problems.append("include cycle between folders: " + ", ".join(part))
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"layers: {len(problems)} include(s) or import(s) against the direction", file=sys.stderr)
        return 1
    edges = sum(len(targets) for targets in graph.values())
    print("layers: every product include points down; test support stands on the seam alone")
    print(f"layers: {len(imports)} Python files, {sum(map(len, imports.values()))} imports between them; "
          f"{PACKAGE}/ imports only itself; no sys.path edit")
    print(f"layers: {len(graph)} files, {edges} includes and imports between them, {len(folders)} folders: no cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main())
