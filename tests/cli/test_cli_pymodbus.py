"""lorvan-cli against an independent MODBUS ASCII slave: pymodbus's own framer, request
decoder and data store answer on a real pseudo-terminal, so no framing code of ours is on the
device side. Run: test_cli_pymodbus.py PATH-TO-lorvan-cli"""

import os
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from pymodbusslave import FULL_UNIT, SMALL_UNIT, Slave  # noqa: E402

CLI = None
UNIT = SMALL_UNIT


class CliAgainstPymodbus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.port = os.path.join(cls.dir.name, "COM1")
        cls.slave = Slave(cls.port)

    @classmethod
    def tearDownClass(cls):
        cls.slave.close()
        cls.dir.cleanup()

    def cli(self, *args, addr=UNIT, extra=()):
        cmd = [CLI, "--port", self.port, "--baud", "19200", "--addr", str(addr), *extra, *args]
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=30)
        return done.returncode, done.stdout.strip()

    def test_read_holding_prints_the_slaves_bytes(self):
        self.assertEqual(self.cli("read-holding", "0", "3"), (0, "10 00 10 01 10 02"))
        # More than one request's worth: chunks are joined in order.
        code, out = self.cli("read-holding", "100", "60")
        self.assertEqual(code, 0)
        expected = " ".join("%02X %02X" % (0x10, 100 + i) for i in range(60))
        self.assertEqual(out, expected)
        self.assertEqual(self.slave.line_settings[-1], (termios.B19200, 2))

    def test_write_holding_reaches_the_slave(self):
        self.assertEqual(self.cli("write-holding", "10", "ABCD0102"), (0, ""))
        self.assertEqual(self.slave.store.getValues(3, 10, 2), [0xABCD, 0x0102])
        self.assertEqual(self.cli("read-holding", "10", "2"), (0, "AB CD 01 02"))

    def test_input_registers_from_image_and_block(self):
        self.assertEqual(self.cli("read-input", "0", "2"), (0, "20 00 20 01"))
        code, out = self.cli("read-input", "60", "3")
        self.assertEqual((code, out), (0, "20 3C 20 3D 20 3E"))

    def test_coils_and_discrete_inputs(self):
        self.assertEqual(self.cli("write-coils", "1", "10110"), (0, ""))
        self.assertEqual(self.slave.store.getValues(1, 0, 7),
                         [False, True, False, True, True, False, False])
        self.assertEqual(self.cli("read-coils", "0", "7"), (0, "0 1 0 1 1 0 0"))
        self.slave.store.setValues(2, 16, [1, 0, 0, 1, 1, 1, 0, 1])
        self.assertEqual(self.cli("read-discrete", "16", "8"), (0, "1 0 0 1 1 1 0 1"))

    def test_four_hundred_registers_in_chunks(self):
        values = ["%04X" % ((0x9000 + 7 * i) & 0xFFFF) for i in range(400)]
        before = len(self.slave.line_settings)
        self.assertEqual(self.cli("write-holding", "600", "".join(values), addr=FULL_UNIT),
                         (0, ""))
        self.assertGreater(len(self.slave.line_settings) - before, 1)  # more than one request
        self.assertEqual(self.slave.full.getValues(3, 600, 400), [int(v, 16) for v in values])
        code, out = self.cli("read-holding", "600", "400", addr=FULL_UNIT)
        self.assertEqual(code, 0)
        self.assertEqual(out, " ".join("%s %s" % (v[:2], v[2:]) for v in values))

    def test_silent_slave_is_no_reply_without_a_hang(self):
        self.slave.muted = True
        try:
            started = time.monotonic()
            self.assertEqual(self.cli("read-holding", "0", "1"), (9, ""))
            self.assertLess(time.monotonic() - started, 10)
        finally:
            self.slave.muted = False
        self.assertEqual(self.cli("read-holding", "0", "1"), (0, "10 00"))

    def test_exception_reply_is_the_exit_status(self):
        # Past the end of the slave's holding registers: illegal data address.
        self.assertEqual(self.cli("read-holding", "190", "20")[0], 2)
        self.assertEqual(self.cli("write-holding", "199", "00000000")[0], 2)

    def test_other_address_and_speed_mismatch_give_no_reply(self):
        self.assertEqual(self.cli("read-holding", "0", "1", addr=UNIT + 1), (9, ""))

    def test_one_stop_bit_when_asked(self):
        self.assertEqual(self.cli("read-holding", "0", "1", extra=("--stop-bits", "1"))[0], 0)
        self.assertEqual(self.slave.line_settings[-1], (termios.B19200, 1))

    def test_bad_command_lines(self):
        for args in (("read-holding", "0"), ("read-holding", "1680", "1"),
                     ("read-holding", "0", "1681"), ("write-holding", "0", "ABC"),
                     ("write-holding", "5", "0A"), ("write-holding", "5", "0A0B0C"),
                     ("write-holding", "5", "+1+2"),
                     ("write-coils", "0", "102"), ("read-coils", "10", "7"), ("dance", "0", "1")):
            with self.subTest(args=args):
                self.assertEqual(self.cli(*args)[0], 64)

    def test_bad_hex_names_the_argument_and_writes_nothing(self):
        before = len(self.slave.line_settings)
        done = subprocess.run([CLI, "--port", self.port, "--baud", "19200", "--addr", str(UNIT),
                               "write-holding", "5", "0A0B0C"], capture_output=True, text=True,
                              timeout=30)
        self.assertEqual(done.returncode, 64)
        self.assertIn('"0A0B0C"', done.stderr)
        self.assertEqual(len(self.slave.line_settings), before)

    def test_help(self):
        done = subprocess.run([CLI, "--help"], capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 0)
        self.assertTrue(done.stdout.startswith("usage: lorvan-cli"))

    def test_relative_port_path(self):
        # "COM1" is a port number, here resolved to the port folder; "./COM1" the file.
        env = dict(os.environ, LORVAN_PORT_DIR=self.dir.name,
                   XDG_CONFIG_HOME=os.path.join(self.dir.name, "config"))
        for port in ("COM1", "./COM1"):
            with self.subTest(port=port):
                done = subprocess.run([CLI, "--port", port, "--baud", "19200", "--addr",
                                       str(UNIT), "read-holding", "0", "1"],
                                      capture_output=True, text=True, timeout=30,
                                      cwd=self.dir.name, env=env)
                self.assertEqual((done.returncode, done.stdout.strip()), (0, "10 00"))

    def test_missing_port(self):
        done = subprocess.run([CLI, "--port", self.port + "x", "--baud", "9600", "--addr", "1",
                               "read-holding", "0", "1"], capture_output=True, text=True,
                              timeout=30)
        self.assertEqual(done.returncode, 9)
        self.assertIn("Specified device not found", done.stderr)


if __name__ == "__main__":
    CLI = sys.argv.pop(1)
    unittest.main(verbosity=2)
