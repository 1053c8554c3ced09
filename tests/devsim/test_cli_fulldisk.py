"""lorvan-cli's files on a full disk: poll --table, snapshot -o and programs -o exit 66 with the
path and the reason and leave the old file byte for byte; with room again the table takes rows
that dbfread reads. The full disk is a small tmpfs where this process may mount one, and
everywhere a file size limit (writes past it fail with EFBIG; SIGXFSZ ignored)."""

import errno
import os
import resource
import signal
import subprocess
import tempfile
import unittest

import dbfread

from devsimharness import Simulator, program

SCENARIO = """line 1
device 1 4
type 3
firmware 105
release 05 03
serial 1A01
variant 05
"""


def mountable():
    with tempfile.TemporaryDirectory() as probe:
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", probe],
                           capture_output=True, text=True)
        if r.returncode == 0:
            subprocess.run(["umount", probe], check=True)
            return True
        print("tmpfs cannot be mounted here (%s): the full disk runs as a size limit only"
              % r.stderr.strip())
        return False


KINDS = ["size limit"] + (["full tmpfs"] if mountable() else [])


def pad_to_page_end(table):
    """Copies of the first row until the next row would need a new 4 KiB page; the header's
    count stays 1. Returns the rows then."""
    with open(table, "r+b") as f:
        data = f.read()
        header = int.from_bytes(data[8:10], "little")
        record = int.from_bytes(data[10:12], "little")
        rows = (4095 - header) // record
        f.seek(header + record)
        f.write(data[header:header + record] * (rows - 1))
        f.truncate()
        return rows


class CliFullDiskTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator(SCENARIO)
        cls.cli = program("LORVAN_CLI")
        cls.tmp = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()
        cls.sim.stop()

    def run_cli(self, *args, limit=None):
        def low_limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, resource.RLIM_INFINITY))
        return subprocess.run([self.cli, *args, "--port", self.sim.port(1), "--addr", "1"],
                              capture_output=True, timeout=120,
                              env=dict(os.environ, LC_ALL="C.UTF-8"),
                              preexec_fn=None if limit is None else low_limit)

    def test_old_file_stays(self):
        for kind in KINDS:
            for writer in ["poll", "snapshot", "programs"]:
                with self.subTest(kind=kind, writer=writer):
                    self.check(kind, writer)

    def check(self, kind, writer):
        folder = os.path.join(self.tmp.name, f"{kind} {writer}")
        os.mkdir(folder)
        if kind == "full tmpfs":
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", folder], check=True)
            self.addCleanup(subprocess.run, ["umount", "-l", folder])
        path = os.path.join(folder, "ArcData1.dbf" if writer == "poll" else "saved")
        args = ([writer, "--count", "1", "--table", path] if writer == "poll"
                else [writer, "-o", path])
        if writer == "poll":
            self.assertEqual(self.run_cli(*args).returncode, 0)
            rows = pad_to_page_end(path)
        else:
            with open(path, "wb") as f:
                f.write(b"the file as it was")
        with open(path, "rb") as f:
            before = f.read()

        filler = os.path.join(folder, "filler")
        if kind == "full tmpfs":
            with open(filler, "wb", buffering=0) as f:
                try:
                    while True:
                        f.write(b"f" * 4096)
                except OSError as e:
                    self.assertEqual(e.errno, errno.ENOSPC)
        r = self.run_cli(*args, limit=len(before) if kind == "size limit" else None)
        if kind == "full tmpfs":
            os.remove(filler)
        reason = os.strerror(errno.ENOSPC if kind == "full tmpfs" else errno.EFBIG)
        stderr = r.stderr.decode("utf-8")
        self.assertEqual(r.returncode, 66, stderr)
        self.assertIn(f"{path}: {reason}" if writer != "poll" else f"{path} ({reason})", stderr)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(os.listdir(folder), [os.path.basename(path)])

        if writer == "poll":
            self.assertEqual(self.run_cli(*args).returncode, 0)
            nums = [r["Num"].strip() for r in dbfread.DBF(path)]
            self.assertEqual(nums, ["0"] * rows + [str(rows)])


if __name__ == "__main__":
    unittest.main()
