"""The simulator's MODBUS side, checked through a real pseudo-terminal by pymodbus's ASCII client
(an implementation nobody here wrote) and by raw frames."""

import struct
import time
import unittest

import serial
from pymodbus.pdu import ExceptionResponse
from pymodbus.other_message import ReadExceptionStatusRequest

from devsimharness import (SPEEDS, Simulator, client, floats, frame, image_bytes,
                           raw_exchange)

SCENARIO = """
# COM1: one device alone on its line, so it also answers address 0.
line 1
pacing off
device 7 4
type 2
firmware 112
release 02 04
serial BEEF
variant A5
clock 31.12.2026 23:59:58
input 1 50
input 2 100 20 10
channel 1 point 1
channel 2 point 0
alarm 1 on input 1 above threshold 40 hysteresis 1 output Y3
alarm 2 on input 1 below threshold 40 hysteresis 1
alarm 3 off input 1 above threshold 0
alarm 8 on input 2 above threshold 500 hysteresis 0
coil 4 1

# COM2: two devices at different speeds share the line.
line 2
pacing off
device 1 2
device 2 3

# COM3: one device per fault, all at 115200.
line 3
pacing off
device 10 4
fault drop
device 11 4
fault corrupt-lrc
device 12 4
fault late 600
device 13 4
fault noise 1 5
device 14 4
fault split 3 60
device 15 4
fault no-crlf
device 16 4
fault exception 6

# COM4: the reply takes as long as 9600 baud needs.
line 4
device 3 0
"""


class ModbusTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator(SCENARIO)

    @classmethod
    def tearDownClass(cls):
        code, links = cls.sim.stop()
        assert code == 0 and links == [], (code, links)

    def setUp(self):
        self.c = client(self.sim.port(1), 115200)

    def tearDown(self):
        self.c.close()

    def test_identity_and_live_values(self):
        r = self.c.read_holding_registers(0, 9, slave=7)
        self.assertFalse(r.isError(), r)
        b = image_bytes(r.registers)
        self.assertEqual(list(b[:8]), [112, 2, 0x02, 0x04, 0xEF, 0xBE, 7, 4])
        self.assertEqual(b[11], 0xA5)
        x = floats(self.c.read_input_registers(0, 8, slave=7).registers)
        self.assertAlmostEqual(x[0], 50.0, places=3)
        self.assertTrue(80 <= x[1] <= 120, x)
        # Input 2 swings with a 10 s period: it has moved a little one second later.
        time.sleep(1.0)
        x2 = floats(self.c.read_input_registers(2, 2, slave=7).registers)[0]
        self.assertNotEqual(x2, x[1])
        # Smoothly: a sine of amplitude 20 and period 10 s moves at most 12.6 per second.
        self.assertLess(abs(x2 - x[1]), 19)

    def test_every_function(self):
        c = self.c
        # 3 and 16 on holding registers outside the map: zero until written.
        self.assertEqual(c.read_holding_registers(1000, 3, slave=7).registers, [0, 0, 0])
        self.assertFalse(c.write_registers(1000, [0x1234, 0xBEEF, 1], slave=7).isError())
        self.assertEqual(c.read_holding_registers(999, 5, slave=7).registers,
                         [0, 0x1234, 0xBEEF, 1, 0])
        self.assertFalse(c.write_registers(1677, [7, 8, 9], slave=7).isError())
        self.assertEqual(c.read_holding_registers(1677, 3, slave=7).registers, [7, 8, 9])
        # 1 and 15 on coils; 5 and 6 are not ours to touch, coil 4 was set by the scenario.
        self.assertEqual(c.read_coils(0, 16, slave=7).bits[:16], [False] * 4 + [True] + [False] * 11)
        self.assertFalse(c.write_coils(9, [True, False, True, True, False, False, True],
                                       slave=7).isError())
        bits = c.read_coils(0, 16, slave=7).bits
        self.assertEqual(bits[9:16], [True, False, True, True, False, False, True])
        self.assertTrue(c.read_coils(15, 1, slave=7).bits[0])
        # 4 on the last input register of the archive ring.
        self.assertFalse(c.read_input_registers(16426, 1, slave=7).isError())
        self.assertEqual(len(c.read_input_registers(16302, 125, slave=7).registers), 125)

    def test_alarm_states(self):
        c = self.c
        # Comparator 1 watches 50 > 40 (on), comparator 2 50 < 40 (off), 3 is switched off,
        # comparator 8 watches input 2 (80..120) above 500 (off).
        states = c.read_discrete_inputs(16, 8, slave=7).bits[:8]
        self.assertEqual(states, [True, False, False, False, False, False, False, False])
        self.assertEqual(c.read_discrete_inputs(0, 16, slave=7).bits[:16], [False] * 16)
        # Threshold of comparator 1 to 60.0 (stored 600 at point position 1): it clears.
        first = (0x2EA + 2) // 2
        self.assertFalse(c.write_registers(first, [struct.unpack(">H", struct.pack("<h", 600))[0]],
                                           slave=7).isError())
        self.assertFalse(c.read_discrete_inputs(16, 1, slave=7).bits[0])
        # Back to 40.0: on again.
        c.write_registers(first, [struct.unpack(">H", struct.pack("<h", 400))[0]], slave=7)
        self.assertFalse(c.read_discrete_inputs(23, 1, slave=7).bits[0])
        self.assertTrue(c.read_discrete_inputs(16, 1, slave=7).bits[0])

    def test_exceptions(self):
        c = self.c
        cases = [
            ("holding past the end", lambda: c.read_holding_registers(1679, 2, slave=7), 2),
            ("holding start beyond", lambda: c.read_holding_registers(1680, 1, slave=7), 2),
            ("write past the end", lambda: c.write_registers(1679, [1, 2], slave=7), 2),
            ("input past the ring", lambda: c.read_input_registers(16426, 2, slave=7), 2),
            ("discrete input 24", lambda: c.read_discrete_inputs(16, 9, slave=7), 2),
            ("coil 16", lambda: c.read_coils(16, 1, slave=7), 2),
            ("write coil 16", lambda: c.write_coils(15, [True, True], slave=7), 2),
            ("holding count 0", lambda: c.read_holding_registers(0, 0, slave=7), 3),
            ("holding count 126", lambda: c.read_holding_registers(0, 126, slave=7), 3),
            ("input count 126", lambda: c.read_input_registers(100, 126, slave=7), 3),
            ("coil count 0", lambda: c.read_coils(0, 0, slave=7), 3),
            ("exception status", lambda: c.execute(ReadExceptionStatusRequest(unit=7)), 1),
        ]
        for name, call, code in cases:
            with self.subTest(name):
                r = call()
                self.assertIsInstance(r, ExceptionResponse, name)
                self.assertEqual(r.exception_code, code, name)

    def test_malformed_requests_by_raw_frames(self):
        path = self.sim.port(1)
        cases = [
            # function 16 whose byte count disagrees with its register count
            ("byte count", [7, 16, 0, 100, 0, 2, 2, 0, 1], b":079003"),
            # function 15 whose byte count is short
            ("coil byte count", [7, 15, 0, 0, 0, 9, 1, 0xFF], b":078F03"),
            # function 3 with a missing count byte
            ("short read", [7, 3, 0, 0, 0], b":078303"),
            # unknown function 0x41
            ("function 0x41", [7, 0x41, 0, 0], b":07C101"),
        ]
        for name, data, prefix in cases:
            with self.subTest(name):
                reply = raw_exchange(path, 115200, frame(data))
                self.assertTrue(reply.startswith(prefix), (name, reply))

    def test_framing(self):
        path = self.sim.port(1)
        good = [7, 3, 0, 3, 0, 1]
        self.assertEqual(raw_exchange(path, 115200, frame(good, lower=True)),
                         frame([7, 3, 2, 7, 4]))
        # Noise before the start character is ignored; a second ':' restarts the frame.
        self.assertEqual(raw_exchange(path, 115200, b"\x00junk:0103" + frame(good)),
                         frame([7, 3, 2, 7, 4]))
        bad_lrc = frame(good)[:-4] + b"00\r\n"
        broken = [
            ("bad LRC", bad_lrc),
            ("no CR", frame(good)[:-2] + b"\n"),
            ("odd digit count", frame(good)[:-4] + b"0" + frame(good)[-4:]),
            ("not hexadecimal", b":07030003000G" + frame(good)[-4:]),
            ("too short", b":07F9\r\n"),
        ]
        for name, request in broken:
            with self.subTest(name):
                self.assertEqual(raw_exchange(path, 115200, request, wait=0.2), b"")

    def test_address_zero_and_other_addresses(self):
        # Alone on its line the device answers address 0 with its own address.
        self.assertEqual(raw_exchange(self.sim.port(1), 115200, frame([0, 3, 0, 3, 0, 1])),
                         frame([7, 3, 2, 7, 4]))
        self.assertEqual(raw_exchange(self.sim.port(1), 115200, frame([8, 3, 0, 3, 0, 1]),
                                      wait=0.2), b"")
        # Two devices share COM2: address 0 gets no answer.
        self.assertEqual(raw_exchange(self.sim.port(2), 38400, frame([0, 3, 0, 3, 0, 1]),
                                      wait=0.2), b"")

    def test_silent_at_a_wrong_speed(self):
        for address, own in ((1, 38400), (2, 57600)):
            for speed in SPEEDS:
                with self.subTest(address=address, speed=speed):
                    c = client(self.sim.port(2), speed)
                    try:
                        r = c.read_holding_registers(3, 1, slave=address)
                    finally:
                        c.close()
                    if speed == own:
                        self.assertFalse(r.isError(), r)
                        self.assertEqual(r.registers[0] >> 8, address)
                    else:
                        self.assertTrue(r.isError())
                        self.assertNotIsInstance(r, ExceptionResponse)

    def test_clock_runs_and_can_be_set(self):
        def clock():
            b = image_bytes(self.c.read_holding_registers(6, 3, slave=7).registers)
            return list(b)

        first = clock()
        time.sleep(2.2)
        second = clock()
        t1 = first[3] * 3600 + first[4] * 60 + first[5]
        t2 = second[3] * 3600 + second[4] * 60 + second[5]
        self.assertIn((t2 - t1) % 86400, (2, 3))
        # Set 28.02.27 23:59:59: one second later it is 01.03.27 00:00:00 or just after.
        regs = [(28 << 8) | 2, (27 << 8) | 23, (59 << 8) | 59]
        self.assertFalse(self.c.write_registers(6, regs, slave=7).isError())
        time.sleep(1.1)
        now = clock()
        self.assertEqual(now[:5], [1, 3, 27, 0, 0])
        self.assertLessEqual(now[5], 1)
        # A date that does not exist leaves the clock alone.
        self.c.write_registers(6, [(31 << 8) | 2], slave=7)
        self.assertEqual(clock()[:3], [1, 3, 27])

    def test_register_3_changes_address_and_speed_after_reply(self):
        c = client(self.sim.port(2), 57600)
        try:
            # Device 2 at 57600 becomes device 9 at 38400; the reply comes the old way.
            r = c.write_registers(3, [(9 << 8) | 2], slave=2)
            self.assertFalse(r.isError(), r)
            self.assertTrue(c.read_holding_registers(3, 1, slave=2).isError())
            self.assertTrue(c.read_holding_registers(3, 1, slave=9).isError())
        finally:
            c.close()
        c = client(self.sim.port(2), 38400)
        try:
            r = c.read_holding_registers(3, 1, slave=9)
            self.assertFalse(r.isError(), r)
            self.assertEqual(r.registers[0], (9 << 8) | 2)
            self.assertFalse(c.read_holding_registers(0, 1, slave=1).isError())
            # An unusable speed code is refused; the address part still applies.
            self.assertFalse(c.write_registers(3, [(2 << 8) | 9], slave=9).isError())
            self.assertEqual(c.read_holding_registers(3, 1, slave=2).registers[0], (2 << 8) | 2)
            c.write_registers(3, [(2 << 8) | 3], slave=2)
        finally:
            c.close()
        c = client(self.sim.port(2), 57600)
        try:
            self.assertFalse(c.read_holding_registers(3, 1, slave=2).isError())
        finally:
            c.close()

    def test_faults(self):
        path = self.sim.port(3)
        req = lambda a: frame([a, 3, 0, 3, 0, 1])
        good = lambda a: frame([a, 3, 2, a, 4])
        self.assertEqual(raw_exchange(path, 115200, req(10), wait=0.3), b"")
        corrupt = raw_exchange(path, 115200, req(11))
        self.assertEqual(corrupt[:-4], good(11)[:-4])
        self.assertEqual((int(corrupt[-4:-2], 16) - int(good(11)[-4:-2], 16)) % 256, 1)
        self.assertEqual(raw_exchange(path, 115200, req(12), wait=0.4), b"")
        time.sleep(0.4)  # the late reply lands while the port is closed and is purged
        self.assertEqual(raw_exchange(path, 115200, req(12), wait=1.0), good(12))
        noisy = raw_exchange(path, 115200, req(13))
        self.assertEqual(len(noisy), len(good(13)) + 5)
        self.assertTrue(noisy.endswith(good(13)))
        self.assertNotIn(b":", noisy[:5])
        self.assertEqual(raw_exchange(path, 115200, req(15)), good(15)[:-2])
        self.assertEqual(raw_exchange(path, 115200, req(16)), frame([16, 0x83, 6]))

    def test_split_reply_arrives_in_pieces(self):
        with serial.Serial(self.sim.port(3), 115200, timeout=0) as s:
            s.reset_input_buffer()
            s.write(frame([14, 3, 0, 3, 0, 1]))
            arrivals = []
            got = b""
            end = time.monotonic() + 0.6
            while time.monotonic() < end:
                chunk = s.read(100)
                if chunk:
                    arrivals.append(time.monotonic())
                    got += chunk
                time.sleep(0.002)
        self.assertEqual(got, frame([14, 3, 2, 14, 4]))
        # Three pieces 60 ms apart: the whole reply spreads over at least two pauses.
        self.assertGreaterEqual(arrivals[-1] - arrivals[0], 0.11)

    def test_reply_is_paced_at_line_speed(self):
        # 125 registers at 9600 baud: 511 characters of 10 bits take 0.53 s on the wire.
        c = client(self.sim.port(4), 9600, timeout=2)
        try:
            start = time.monotonic()
            r = c.read_holding_registers(0, 125, slave=3)
            elapsed = time.monotonic() - start
        finally:
            c.close()
        self.assertFalse(r.isError(), r)
        self.assertGreater(elapsed, 0.5)
        self.assertLess(elapsed, 1.5)

    def test_log_records_requests_and_replies(self):
        self.c.read_holding_registers(5, 1, slave=7)
        time.sleep(0.05)
        text = self.sim.log_text()
        self.assertRegex(text, r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} COM1 <- :070300050001F0<CR><LF>")
        self.assertRegex(text, r"COM1 -> :07030200")


if __name__ == "__main__":
    unittest.main()
