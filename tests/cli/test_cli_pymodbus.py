"""lorvan-cli against an independent MODBUS ASCII slave: pymodbus's own framer, request
decoder and data store answer on a real pseudo-terminal, so no framing code of ours is on the
device side. Run: test_cli_pymodbus.py PATH-TO-lorvan-cli"""

import os
import select
import subprocess
import sys
import tempfile
import termios
import threading
import tty
import unittest

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.factory import ServerDecoder
from pymodbus.framer.ascii_framer import ModbusAsciiFramer

CLI = None
UNIT = 17


class Slave:
    """A pymodbus slave on the master side of a pty whose slave side is published as a link."""

    def __init__(self, link_path):
        self.master, self.keeper = os.openpty()
        tty.setraw(self.keeper)
        os.symlink(os.ttyname(self.keeper), link_path)
        self.link_path = link_path
        store = ModbusSlaveContext(
            di=ModbusSequentialDataBlock(0, [0] * 24),
            co=ModbusSequentialDataBlock(0, [0] * 16),
            hr=ModbusSequentialDataBlock(0, [0x1000 + i for i in range(200)]),
            ir=ModbusSequentialDataBlock(0, [0x2000 + i for i in range(120)]),
            zero_mode=True)
        self.store = store
        self.context = ModbusServerContext(slaves={UNIT: store}, single=False)
        self.framer = ModbusAsciiFramer(ServerDecoder())
        self.line_settings = []  # (speed, stop bits) seen at each request
        self.stop = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def answer(self, request):
        attrs = termios.tcgetattr(self.master)
        self.line_settings.append((attrs[5], 2 if attrs[2] & termios.CSTOPB else 1))
        response = request.execute(self.context[request.unit_id])
        response.unit_id = request.unit_id
        response.transaction_id = request.transaction_id
        os.write(self.master, self.framer.buildPacket(response))

    def serve(self):
        while not self.stop:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            data = os.read(self.master, 1024)
            try:
                self.framer.processIncomingPacket(data, self.answer, unit=[UNIT], single=False)
            except Exception:  # a frame pymodbus cannot decode: stay silent, as a device would
                self.framer.resetFrame()

    def close(self):
        self.stop = True
        self.thread.join()
        os.unlink(self.link_path)
        os.close(self.keeper)
        os.close(self.master)


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
        for port in ("COM1", "./COM1"):
            with self.subTest(port=port):
                done = subprocess.run([CLI, "--port", port, "--baud", "19200", "--addr",
                                       str(UNIT), "read-holding", "0", "1"],
                                      capture_output=True, text=True, timeout=30,
                                      cwd=self.dir.name)
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
