"""The dependency check on this build folder: the real package list passes, a list lacking a
package that the build, the programs or the tests use fails and names that package, and the list
installed onto a fresh base system brings every package the check saw used.

Usage: test_check_deps.py CHECK_SCRIPT PACKAGE_LIST BUILD_DIR
"""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK, LIST, BUILD = sys.argv[1:4]
BASE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "debian12-base-packages.txt")

# (package taken out of the list, or added when it starts with "+", and what the check must
# print; None: the check passes). Each removal is seen by a different part of the check.
CASES = [
    (None, None),
    ("libqt6opengl6-dev", "libqt6opengl6-dev  (CMake package Qt6OpenGL"),
    ("python3-serial-asyncio", "python3-serial-asyncio  (Python module serial_asyncio"),
    ("libshp-dev", "libshp-dev  ("),
    ("+lorvan-no-such-package", "lorvan-no-such-package is listed but apt knows no such package"),
]


def names(path):
    with open(path, encoding="utf-8") as f:
        return {line.split("#", 1)[0].strip() for line in f} - {""}


def run_check(change, folder):
    with open(LIST, encoding="utf-8") as f:
        lines = f.read().splitlines()
    if change is not None and change.startswith("+"):
        lines.append(change[1:])
    elif change is not None:
        kept = [line for line in lines if line.split("#", 1)[0].strip() != change]
        assert len(kept) == len(lines) - 1, f"{change} is not in {LIST}"
        lines = kept
    path = os.path.join(folder, "packages.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return subprocess.run([sys.executable, CHECK, "--build", BUILD, "--list", path],
                          capture_output=True, text=True)


class CheckDepsTest(unittest.TestCase):
    def test_lists(self):
        with tempfile.TemporaryDirectory() as folder:
            for change, expected in CASES:
                with self.subTest(change=change):
                    result = run_check(change, folder)
                    output = result.stdout + result.stderr
                    if expected is None:
                        self.assertEqual(result.returncode, 0, output)
                        self.assertNotIn("FAILED", output)
                    else:
                        self.assertEqual(result.returncode, 1, output)
                        self.assertIn(expected, output)
                        self.assertIn("FAILED", output)


class FreshMachineTest(unittest.TestCase):
    def test_list_onto_base_system_brings_every_used_package(self):
        # The closure the check accepts follows every alternative of a dependency; what apt
        # really installs onto the base system, without Recommends, is the narrower truth.
        with tempfile.TemporaryDirectory() as folder:
            self.assertEqual(run_check(None, folder).returncode, 0)
            base = names(BASE)
            status = os.path.join(folder, "status")
            with open("/var/lib/dpkg/status", encoding="utf-8") as f:
                stanzas = [s for s in f.read().split("\n\n")
                           if s.startswith("Package: ") and s.split()[1] in base]
            with open(status, "w", encoding="utf-8") as f:
                f.write("\n\n".join(stanzas) + "\n\n")
            plan = subprocess.run(["apt-get", "-s", "-o", f"Dir::State::status={status}",
                                   "install", "--no-install-recommends", *sorted(names(LIST))],
                                  env=dict(os.environ, LC_ALL="C.UTF-8"), capture_output=True,
                                  text=True)
            self.assertEqual(plan.returncode, 0, plan.stderr)
            installed = base | {line.split()[1] for line in plan.stdout.splitlines()
                                if line.startswith("Inst ")}
            with open(os.path.join(BUILD, "deps-check", "used-packages.txt"),
                      encoding="utf-8") as f:
                used = [set(line.split()) for line in f if line.strip()]
            self.assertGreater(len(used), 10)
            lacking = sorted(" or ".join(sorted(p)) for p in used if not p & installed)
            self.assertEqual(lacking, [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
