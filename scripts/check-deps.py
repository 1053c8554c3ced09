#!/usr/bin/python3
"""Checks that scripts/packages.txt names everything a build folder's build, programs and tests use.

What a fresh Debian 12 machine gets is the list's packages and their dependencies, without
Recommends. A developer's own machine usually has more, so a missing package shows only on the
fresh machine. This check looks, in about a second, at what was really used here:

- the CMake package configurations the configure step found (the *_DIR entries of the cache) and
  the tools it recorded (cmake, the compiler, make, the tests' Python);
- the system headers the compiler read (its dependency files) and the libraries the linker used;
- the shared libraries that the built programs, the test executables and the Qt platform plugins
  they load (lorvan-runtime-plugins.txt, written by CMake) need (ldd);
- the Python modules that the Python tests import, and what those import in turn, as the tests'
  interpreter resolves them to files;

finds each file's Debian package (dpkg -S) and requires it to be listed, or a dependency
(Depends, Pre-Depends, through Provides) of a listed package as installed here, or part of every
Debian root (essential, or of priority required). Data files read only at run time (fonts,
translations, icons) and the choice apt makes between alternatives on an empty machine are
proven by running the whole suite in a freshly made root (scripts/fresh-root.sh), not here.

Usage: check-deps.py --build DIR [--list FILE]. Exit status 0 when complete, 1 naming what is
missing, 2 when the build folder cannot be read.
"""

import argparse
import ast
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Tool messages and labels must not follow the user's language.
ENV = dict(os.environ, LC_ALL="C.UTF-8", LANGUAGE="")
ELF_MAGIC = b"\x7fELF"


def read_list(path):
    """Package names of a list file: one a line, "#" starts a comment."""
    names = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            name = line.split("#", 1)[0].strip()
            if name:
                names.append(name)
    return names


def bare_names(relations):
    """The package names of a relation field: "a (>= 1) | b:any, c" gives a, b and c."""
    names = (re.sub(r"[\s:(].*", "", alt.strip()) for alt in re.split(r"[,|]", relations))
    return [n for n in names if n]


def installed_closure(packages):
    """The listed packages that are installed here and what they depend on (Depends and
    Pre-Depends, every alternative that is installed, virtual names through Provides), with the
    packages every Debian root has (essential, or of priority required); and the listed names
    that are not installed."""
    out = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev}\t${Package}\t"
                          "${Essential} ${Priority}\t${Provides}\t${Pre-Depends}, ${Depends}\n"],
                         env=ENV, capture_output=True, text=True).stdout
    depends, provided, base = {}, {}, set()
    for line in out.splitlines():
        status, name, kind, provides, relations = line.split("\t")
        if not status.startswith("ii"):
            continue
        if "yes" in kind.split() or "required" in kind.split():
            base.add(name)
        depends[name] = bare_names(relations)
        for virtual in bare_names(provides):
            provided.setdefault(virtual, set()).add(name)
    reached, todo = set(), [p for p in packages if p in depends]
    while todo:
        name = todo.pop()
        if name in reached:
            continue
        reached.add(name)
        for dep in depends[name]:
            todo += [p for p in {dep} | provided.get(dep, set()) if p in depends]
    return reached | base, sorted(p for p in packages if p not in depends)


def read_cache(build):
    entries = {}
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        for line in f:
            m = re.match(r"([^#/][^:=]*):(\w+)=(.*)$", line.rstrip("\n"))
            if m:
                entries[m.group(1)] = m.group(3)
    return entries


def configure_files(cache):
    """(what, path) of each CMake package configuration and tool the configure step recorded."""
    found = []
    for key, value in sorted(cache.items()):
        if not key.endswith("_DIR") or not os.path.isdir(value):
            continue
        name = key[:-4]
        for config in (f"{name}Config.cmake", f"{name.lower()}-config.cmake"):
            path = os.path.join(value, config)
            if os.path.isfile(path):
                found.append((f"CMake package {name}", path))
                break
    for key in ("CMAKE_COMMAND", "CMAKE_CXX_COMPILER", "CMAKE_MAKE_PROGRAM", "LORVAN_PYTHON"):
        if os.path.isfile(cache.get(key, "")):
            found.append((f"build tool {key}", cache[key]))
    return found


def build_inputs(build):
    """(what, path) of the system headers the compiler read and the files the linker named."""
    headers = set()
    depfiles = []
    for root, _dirs, files in os.walk(build):
        depfiles += [os.path.join(root, f) for f in files if f.endswith(".o.d")]
        if "link.txt" in files:
            with open(os.path.join(root, "link.txt"), encoding="utf-8") as f:
                headers.update(("library linked", t) for t in f.read().split()
                               if t.startswith("/") and not t.startswith(build))
    for path in depfiles:
        with open(path, encoding="utf-8", errors="replace") as f:
            headers.update(("header compiled", t) for t in f.read().replace("\\\n", " ").split()
                           if t.startswith("/"))
    if not depfiles and os.path.exists(os.path.join(build, "build.ninja")):
        out = subprocess.run(["ninja", "-C", build, "-t", "deps"], env=ENV, capture_output=True,
                             text=True).stdout
        headers.update(("header compiled", t.strip()) for t in out.splitlines()
                       if t.startswith("    /"))
    return sorted(headers)


def built_binaries(build):
    """The programs and test executables of the build folder, and the plugins they load."""
    found = []
    for root, dirs, files in os.walk(build):
        dirs[:] = [d for d in dirs if d != "CMakeFiles"]
        for name in files:
            path = os.path.join(root, name)
            if os.access(path, os.X_OK) and not os.path.islink(path):
                with open(path, "rb") as f:
                    if f.read(4) == ELF_MAGIC:
                        found.append(path)
    plugins = os.path.join(build, "lorvan-runtime-plugins.txt")
    if os.path.exists(plugins):
        found += read_list(plugins)
    return sorted(found)


def shared_libraries(binaries):
    """(what, path) of each binary and each library it loads; problems as text."""
    def run(command):
        return subprocess.run(command, env=ENV, capture_output=True, text=True).stdout

    def linkage(binary):
        # Needed libraries and search paths: binaries alike in these load the same libraries.
        return "\n".join(line for line in run(["readelf", "-d", binary]).splitlines()
                         if re.search(r"\((NEEDED|RPATH|RUNPATH)\)", line))

    used, problems = [], []
    with ThreadPoolExecutor(4) as pool:
        alike = {}
        for binary, key in zip(binaries, pool.map(linkage, binaries)):
            alike.setdefault(key, []).append(binary)
        groups = list(alike.values())
        for group, out in zip(groups, pool.map(lambda g: run(["ldd", g[0]]), groups)):
            what = f"loaded by {os.path.basename(group[0])}"
            used += [("program or plugin", binary) for binary in group]
            for line in out.splitlines():
                line = line.strip()
                if "=> not found" in line:
                    problems.append(f"{line.split()[0]} not found ({what})")
                    continue
                m = re.search(r"(?:=> )?(/\S+) \(0x", line)
                if m:
                    used.append((what, m.group(1)))
    return used, problems


def test_imports():
    """Top-level names of the modules the Python tests import, their own modules left out."""
    tests = os.path.join(SOURCE, "tests")
    own, names = set(), set()
    snippet = re.compile(r'"\s*(?:import\s+([\w.]+(?:\s*,\s*[\w.]+)*)|from\s+([\w.]+)\s+import)')
    for root, _dirs, files in os.walk(tests):
        for name in files:
            path = os.path.join(root, name)
            if name.endswith(".py"):
                own.add(name[:-3])
                with open(path, encoding="utf-8") as f:
                    tree = ast.parse(f.read(), path)
                for node in ast.walk(tree):
                    if isinstance(node, ast.Import):
                        names.update(a.name for a in node.names)
                    elif isinstance(node, ast.ImportFrom) and node.level == 0 and node.module:
                        names.add(node.module)
            elif name.endswith((".cpp", ".h")):
                # Python run by C++ tests as "-c" text.
                with open(path, encoding="utf-8", errors="replace") as f:
                    for m in snippet.finditer(f.read()):
                        names.update(n.strip() for n in (m.group(1) or m.group(2)).split(","))
    return sorted(n for n in names if n.split(".")[0] not in own and n != "__future__")


RESOLVE = r"""
import importlib, sys
wanted = sys.argv[1:]
before = set(sys.modules)
for name in wanted:
    try:
        importlib.import_module(name)
    except Exception as e:
        print("F", name, repr(e), sep="\t")
for name, module in list(sys.modules.items()):
    if name in before and name not in wanted:
        continue
    path = getattr(module, "__file__", None)
    if path:
        print("M", name, path, sep="\t")
"""


def python_modules(python, names, build):
    """(what, path) of each module file the tests' imports load; problems as text."""
    out = subprocess.run([python, "-c", RESOLVE, *names], cwd=build, capture_output=True,
                         text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1")).stdout
    used, problems = [], []
    for line in out.splitlines():
        kind, name, detail = line.split("\t", 2)
        if kind == "F":
            problems.append(f"Python module {name} cannot be imported by {python}: {detail}")
        elif os.path.isfile(detail):
            used.append((f"Python module {name}", os.path.abspath(detail)))
    return used, problems


def variants(path):
    """The path as given and resolved, each also on the other side of the /usr merge."""
    out = []
    for p in (path, os.path.realpath(path)):
        out.append(p)
        if re.match(r"/usr/(lib|lib64|bin|sbin)/", p):
            out.append(p[4:])
        elif re.match(r"/(lib|lib64|bin|sbin)/", p):
            out.append("/usr" + p)
    return list(dict.fromkeys(out))


def owners(paths):
    """Owning packages of each path (dpkg -S), an empty set for a file no package owns."""
    every = sorted({v for p in paths for v in variants(p)})
    found = {}
    if every:
        out = subprocess.run(["dpkg", "-S", *every], env=ENV, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            if line.startswith("diversion by") or ": " not in line:
                continue
            pkgs, path = line.split(": ", 1)
            found.setdefault(path, set()).update(p.split(":")[0] for p in pkgs.split(", "))
    return {p: next((found[v] for v in variants(p) if v in found), set()) for p in paths}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="configured and built CMake folder")
    parser.add_argument("--list", default=os.path.join(SOURCE, "scripts", "packages.txt"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        print(f"check-deps: {build} is not a configured build folder", file=sys.stderr)
        return 2

    listed = read_list(args.list)
    reached, absent = installed_closure(listed)
    problems = [f"{p} is listed but not installed here (bash scripts/install-deps.sh)"
                for p in absent]

    cache = read_cache(build)
    used = configure_files(cache) + build_inputs(build)
    libs, lib_problems = shared_libraries(built_binaries(build))
    mods, mod_problems = python_modules(cache.get("LORVAN_PYTHON", "/usr/bin/python3"),
                                        test_imports(), build)
    used += libs + mods
    problems += lib_problems + mod_problems
    # The project's own files need no package.
    used = [(what, path) for what, path in used
            if not path.startswith((SOURCE + os.sep, build + os.sep))]

    owned = owners(sorted({path for _what, path in used}))
    missing = {}
    for what, path in used:
        pkgs = owned[path]
        if not pkgs:
            problems.append(f"no Debian package owns {path} ({what})")
        elif not pkgs & reached:
            missing.setdefault(" or ".join(sorted(pkgs)), (what, path))

    name = os.path.abspath(args.list)
    if name.startswith(SOURCE + os.sep):
        name = os.path.relpath(name, SOURCE)
    if missing:
        print(f"check-deps: packages used here but missing from {name} and what its packages "
              "depend on:", file=sys.stderr)
        for pkg, (what, path) in sorted(missing.items()):
            print(f"  {pkg}  ({what}: {path})", file=sys.stderr)
    for problem in sorted(set(problems)):
        print(f"check-deps: {problem}", file=sys.stderr)
    if missing or problems:
        print(f"check-deps: FAILED; add the missing packages to {name}", file=sys.stderr)
        return 1
    print(f"check-deps: {name} covers the {len(owned)} files used by the build, the programs and the "
          f"tests ({len(listed)} packages listed, {len(reached)} with their dependencies)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
