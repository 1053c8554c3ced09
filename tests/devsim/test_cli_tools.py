"""lorvan-cli's sub-commands against the simulator over its pseudo-terminal, checked where they
can be with independent readers (pymodbus, dbfread): scan, identity, poll, table, netfile,
programs, and a settings snapshot taken from one device, restored onto another and compared."""

import csv
import grp
import io
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import dbfread

from devsimharness import Simulator, cli_command, client, image_bytes, program, run_cli

SCENARIO = """line 1
turnaround 5
pacing on
device 1 4
type 3
firmware 105
release 05 03
serial 1A01
variant 05
channel-name 1 Печь
channel 4 type 3 char 2 point 1 range -50 150
loop 1 on input 1 output 1 law 0 setpoint 250 kp 2 ki 0.05 kd 10
loop-name 1 Печь
alarm 1 on input 1 above threshold 270 hysteresis 2 output Y3
archive on cycle 10 params X1,X2 mark 1 prefill 5
program 1 start 01.12.26 08:00 point 1
segment 20 250 1800
segment 250 40 2400
device 3 4
type 3
firmware 105
release 05 03
serial 1A03
variant 05
device 7 0
type 2
serial 0B07
variant 00
"""

SUBCOMMANDS = ["scan", "identity", "poll", "table", "netfile", "programs", "snapshot",
               "compare", "restore", "ports"]


class CliToolsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator(SCENARIO)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.port = cls.sim.port(1)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()
        code, links = cls.sim.stop()
        assert code == 0 and links == [], (code, links)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def run_cli(self, *args, stdin=None, env=None, ok=True):
        r = run_cli(*args, stdin=stdin, env=env, timeout=120)
        if ok:
            self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def device(self, address, *args, **kw):
        return self.run_cli(*args, "--port", self.port, "--addr", str(address), **kw)

    def registers(self, baud, address, first, count):
        c = client(self.port, baud)
        try:
            words = []
            while count > 0:
                n = min(count, 60)
                r = c.read_holding_registers(first, n, slave=address)
                self.assertFalse(r.isError(), r)
                words += r.registers
                first, count = first + n, count - n
            return image_bytes(words)
        finally:
            c.close()

    def test_help_and_errors(self):
        for sub in SUBCOMMANDS:
            with self.subTest(sub=sub):
                r = self.run_cli(sub, "--help")
                self.assertIn("lorvan-cli " + sub, r.stdout)
        self.assertIn("snapshot", self.run_cli("--help").stdout)
        r = self.run_cli("identity", "--port", self.port, "--addr", "300", ok=False)
        self.assertEqual((r.returncode, r.stdout), (64, ""))
        self.assertIn("--addr", r.stderr)
        r = self.device(9, "identity", "--baud", "9600", ok=False)
        self.assertEqual(r.returncode, 9)
        r = self.run_cli("table", self.path("missing.dbf"), ok=False)
        self.assertEqual(r.returncode, 66)

    def test_scan_and_identity(self):
        r = self.run_cli("scan", "--port", self.port, "--first", "1", "--last", "8")
        rows = [line.split("\t") for line in r.stdout.splitlines()]
        self.assertEqual(rows[0], ["address", "speed", "description"])
        self.assertEqual([row[:2] for row in rows[1:]],
                         [["1", "115200"], ["3", "115200"], ["7", "9600"]])
        self.assertTrue(rows[3][2].endswith("/007/9600"), rows[3])
        # A speed range above the slow device leaves it out.
        r = self.run_cli("scan", "--port", self.port, "--first", "7", "--last", "7",
                         "--min-baud", "19200")
        self.assertEqual(r.stdout.splitlines()[1:], [])

        fields = dict(line.split("\t") for line in self.device(3, "identity").stdout.splitlines())
        self.assertEqual((fields["address"], fields["speed"], fields["serial"]),
                         ("003", "115200", "1A03"))

    def test_ports_and_com_numbers(self):
        # A made /dev and sysfs: a converter's stable name leads to the simulator's line.
        root = self.path("root")
        os.makedirs(os.path.join(root, "dev/serial/by-id"))
        os.makedirs(os.path.join(root, "sys/class/tty/ttyS0"))
        with open(os.path.join(root, "sys/class/tty/ttyS0/type"), "w") as f:
            f.write("4\n")
        stable = os.path.join(root, "dev/serial/by-id/usb-Acme_RS485_A1-if00-port0")
        os.symlink(os.path.realpath(self.port), stable)
        env = dict(os.environ, LORVAN_SERIAL_ROOT=root, XDG_CONFIG_HOME=self.path("config"))
        env.pop("LORVAN_PORT_DIR", None)
        os.makedirs(self.path("config/Nordak"), exist_ok=True)
        with open(self.path("config/Nordak/LorvanConf.ini"), "w") as f:
            f.write("[Ports]\nCOM3=%s\n" % stable)
        rows = [l.split("\t") for l in self.run_cli("ports", env=env).stdout.splitlines()]
        self.assertEqual(rows, [
            ["com", "name", "device", "description"],
            ["COM3", stable, os.path.realpath(self.port), ""],
            ["-", os.path.join(root, "dev/ttyS0"), os.path.join(root, "dev/ttyS0"),
             "встроенный последовательный порт"]])
        fields = dict(l.split("\t") for l in self.run_cli(
            "identity", "--port", "COM3", "--addr", "1", env=env).stdout.splitlines())
        self.assertEqual(fields["serial"], "1A01")
        # COM4 has nothing assigned: the default rule, and the reason in Russian.
        r = self.run_cli("identity", "--port", "com4", "--addr", "1", env=env, ok=False)
        self.assertEqual(r.returncode, 9)
        self.assertIn("Порт COM4 (/dev/ttyS3) отсутствует. Назначьте порт: Сеть → "
                      "Назначение портов.", r.stderr)

    def test_forbidden_port_names_its_group(self):
        # Needs a user who is not root and not in the device's group: the refusal must come
        # from the system, not from a look at the mode bits.
        if os.geteuid() != 0 or not shutil.which("setpriv"):
            self.skipTest("needs root to run the tool as another user")
        try:
            gid = grp.getgrnam("dialout").gr_gid
        except KeyError:
            self.skipTest("no group dialout")
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        os.chmod(folder, 0o755)
        device = os.path.join(folder, "ttyUSB0")
        open(device, "w").close()
        os.chown(device, 0, gid)
        os.chmod(device, 0o660)
        r = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                            *cli_command("identity", port=device, addr=1)],
                           capture_output=True, text=True, timeout=60,
                           env=dict(os.environ, HOME=folder, XDG_CONFIG_HOME=folder))
        self.assertEqual(r.returncode, 9, r.stderr)
        self.assertEqual(r.stderr.count("принадлежит группе dialout"), 1, r.stderr)
        self.assertIn("sudo usermod -aG dialout $USER", r.stderr)

    def test_poll_and_table_csv(self):
        # A comma-decimal desktop must still get full stops and six columns.
        env = dict(os.environ, LC_ALL="ru_RU.UTF-8", LANG="ru_RU.UTF-8")
        r = self.device(1, "poll", "--count", "2", "--period", "1", env=env)
        rows = list(csv.reader(io.StringIO(r.stdout)))
        self.assertEqual(rows[0], ["Num", "Date", "Chan1", "Chan2", "Chan3", "Chan4"])
        self.assertEqual([row[0] for row in rows[1:]], ["0", "1"])
        for row in rows[1:]:
            self.assertEqual(len(row), 6)
            for value in row[2:]:
                self.assertRegex(value, r"^-?\d+\.\d{4}$")

        table = self.path("ArcData1.dbf")
        self.device(1, "poll", "--count", "3", "--period", "1", "--table", table)
        r = self.run_cli("table", table, env=env)
        rows = list(csv.reader(io.StringIO(r.stdout)))
        records = list(dbfread.DBF(table))
        self.assertEqual(len(rows), 1 + len(records))
        self.assertEqual(len(records), 3)
        for row, rec in zip(rows[1:], records):
            self.assertEqual(row[0], rec["Num"].strip())
            self.assertAlmostEqual(float(row[2]), rec["Chan1"], places=4)
            self.assertAlmostEqual(float(row[5]), rec["Chan4"], places=4)

    def test_netfile(self):
        plant = self.path("plant.ini")
        subprocess.run([program("LORVAN_NETFILE"), self.port, "2", plant, "3:115200", "7:9600"],
                       check=True, timeout=60)
        lines = self.run_cli("netfile", plant).stdout.splitlines()
        self.assertEqual(lines[0].split("\t"), ["index", "text", "port", "address", "speed",
                                                "period", "cyclic", "table path"])
        rows = [line.split("\t") for line in lines[1:]]
        self.assertEqual([(r[0], r[2], r[3], r[4]) for r in rows],
                         [("1", "2", "3", "115200"), ("2", "2", "7", "9600")])
        self.assertTrue(rows[1][7].endswith("ArcData2.dbf"), rows[1])

    def test_programs_of_device_and_file(self):
        saved = self.path("furnace.prg")
        from_device = self.device(1, "programs", "-o", saved).stdout
        self.assertEqual(self.run_cli("programs", saved).stdout, from_device)
        with open(saved, "rb") as f:
            data = f.read()
        # The file holds the device's four programs (registers 1279..1678) behind its marker.
        self.assertEqual(data[-800:], self.registers(115200, 1, 1279, 400))
        lines = from_device.splitlines()
        self.assertTrue(lines[0].startswith("program\t1\tstart\t01.12.26 08:00\tpoint\t1\tsegments\t2"))
        self.assertEqual(lines[2:4], ["1\t20.0\t250.0\t1800", "2\t250.0\t40.0\t2400"])
        with open(self.path("bad.prg"), "wb") as f:
            f.write(data[:100])
        self.assertEqual(self.run_cli("programs", self.path("bad.prg"), ok=False).returncode, 66)

    def test_snapshot_restore_compare(self):
        first = self.path("dev1.txt")
        self.device(1, "snapshot", "-o", first)
        with open(first, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("range end\t150\t00 00 16 43", text)  # channel 4's range as shown
        self.assertIn("setpoint\t250.0\t", text)
        blocks = [(m.group(1), int(m.group(2), 16), int(m.group(3)))
                  for m in re.finditer(r"^\[(.+)\] 0x([0-9a-f]+) (\d+)$", text, re.M)]
        self.assertIn("program 4", [b[0] for b in blocks])

        # Another type or variant is refused before anything is written.
        r = self.device(7, "restore", first, "--yes", ok=False)
        self.assertEqual(r.returncode, 65, r.stderr)
        self.assertIn("type", r.stderr)

        r = self.device(3, "compare", first, ok=False)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("channel 1 name\ttext\tПечь\t", r.stdout)
        # Declining the question writes nothing.
        r = self.device(3, "restore", first, stdin="n\n", ok=False)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(self.device(3, "compare", first, ok=False).returncode, 1)

        # Device 3 keeps no archive parameters: the restore would restart its ring, which --yes
        # alone does not agree to.
        r = self.device(3, "restore", first, "--yes", stdin="", ok=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("restart its archive", r.stdout)
        self.assertEqual(self.device(3, "compare", first, ok=False).returncode, 1)

        r = self.device(3, "restore", first, "--yes", "--restart-archive")
        self.assertIn("read back", r.stdout)
        # Again: the device's own record mark moved, and that is no difference.
        r = self.device(3, "restore", first, "--yes")
        self.assertIn("already holds", r.stdout)
        r = self.device(3, "compare", first)
        self.assertEqual(r.stdout, "")
        # Read independently: every settings block and the common block's shadow are the first
        # device's; the identity stays the second's own.
        for name, position, length in blocks + [("shadow", 0x99A, 14)]:
            if name == "identity":
                continue
            with self.subTest(block=name):
                self.assertEqual(self.registers(115200, 3, position // 2, length // 2),
                                 self.registers(115200, 1, position // 2, length // 2))
        ident = self.registers(115200, 3, 0, 9)
        self.assertEqual((ident[4:6], ident[6]), (bytes([0x03, 0x1A]), 3))
        # An address no device can have is refused before anything is written.
        for bad in (0, 128, 200):
            with self.subTest(address=bad):
                other = self.path("address%d.txt" % bad)
                with open(other, "w", encoding="utf-8") as f:
                    f.write(re.sub(r"(\[identity\][^\n]*\nbytes\t[0-9A-F]{2}( [0-9A-F]{2}){5}) [0-9A-F]{2}",
                                   lambda m: m.group(1) + " %02X" % bad, text, count=1))
                # Registers 6-8 are the running clock.
                settings = lambda regs: regs[:12] + regs[18:]
                held = settings(self.registers(115200, 1, 0, 300))
                r = self.device(1, "restore", other, "--yes", "--write-address", ok=False)
                self.assertEqual(r.returncode, 64, r.stderr)
                self.assertEqual(settings(self.registers(115200, 1, 0, 300)), held)
        # A second snapshot compares without a device.
        second = self.path("dev3.txt")
        self.device(3, "snapshot", "-o", second)
        self.assertEqual(self.run_cli("compare", first, second).stdout, "")


if __name__ == "__main__":
    unittest.main()
