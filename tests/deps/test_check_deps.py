"""The dependency check on this build folder: the real package list passes, a list lacking a
package that the build, the programs or the tests use fails and names that package, one lacking
a package that a listed one depends on passes. Whether the list installs onto a machine that has
nothing else, and brings the data files read only at run time, is proven by running the whole
suite in a freshly made root (scripts/fresh-root.sh), not here.

Usage: test_check_deps.py CHECK_SCRIPT PACKAGE_LIST BUILD_DIR
"""

import os
import subprocess
import sys
import tempfile
import unittest

CHECK, LIST, BUILD = sys.argv[1:4]

# (package taken out of the list, or added when it starts with "+", and what the check must
# print; None: the check passes). Each removal is seen by a different part of the check.
CASES = [
    (None, None),
    ("libqt6opengl6-dev", "libqt6opengl6-dev  (CMake package Qt6OpenGL"),
    ("python3-serial-asyncio", "python3-serial-asyncio  (Python module serial_asyncio"),
    ("libshp-dev", "libshp-dev  ("),
    # The Python packages depend on it.
    ("python3", None),
    ("+lorvan-no-such-package", "lorvan-no-such-package is listed but not installed here"),
]


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


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
