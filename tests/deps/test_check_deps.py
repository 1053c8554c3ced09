"""The dependency check on this build folder: the real package list passes, a list lacking a
package that the build, the programs or the tests use fails and names that package, and the list
a file that a traced test read at run time (a font the metafile reader draws with) counts as used.
Whether the list installs onto a machine that has nothing else is proven by running the whole
suite in a freshly made root (scripts/fresh-root.sh), not here.

Usage: test_check_deps.py CHECK_SCRIPT PACKAGE_LIST BUILD_DIR
"""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK, LIST, BUILD = sys.argv[1:4]
RECORD = os.path.join(BUILD, "deps-check", "runtime-files.txt")

# (package taken out of the list, or added when it starts with "+", and what the check must
# print; None: the check passes). Each removal is seen by a different part of the check.
CASES = [
    (None, None),
    ("libqt6opengl6-dev", "libqt6opengl6-dev  (CMake package Qt6OpenGL"),
    ("python3-serial-asyncio", "python3-serial-asyncio  (Python module serial_asyncio"),
    ("libshp-dev", "libshp-dev  ("),
    ("fonts-urw-base35", "fonts-urw-base35  (file read by a traced test"),
    ("+lorvan-no-such-package", "lorvan-no-such-package is listed but apt knows no such package"),
]


def run_check(change, folder, *extra):
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
    return subprocess.run([sys.executable, CHECK, "--build", BUILD, "--list", path, *extra],
                          capture_output=True, text=True)


class CheckDepsTest(unittest.TestCase):
    def test_lists(self):
        with tempfile.TemporaryDirectory() as folder:
            if not os.path.exists(RECORD):
                # The test command traces after the build; a build tested by hand traces here.
                result = run_check(None, folder, "--trace")
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
