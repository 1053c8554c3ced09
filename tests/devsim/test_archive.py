"""The archive ring as a reader sees it: record layout, write position, wrap-around, record
marks and registration at the cycle, through pymodbus's ASCII client."""

import datetime
import struct
import time
import unittest

from devsimharness import Simulator, client, crc16_modbus, image_bytes

RING_BYTES = 32750

SCENARIO = """
line 1
pacing off

# Hourly records of X1, X3 and Y1.
device 1 4
clock 15.06.2026 12:00:30
input 1 123.4
input 3 -5
channel 1 point 1
channel 3 point 2
loop 1 on input 1 output 1 setpoint 130 kp 2
archive on cycle 3600 params X1,X3,Y1 mark 2 prefill 50

# All six parameters: 20-byte records, 1637 fit, 1737 were written.
device 2 4
clock 15.06.2026 12:00:30
input 1 10
input 2 -20
input 3 0.5
input 4 7
archive on cycle 3600 params X1,X2,X3,X4,Y1,Y2 mark 3 prefill 1737

# The same, for changing its parameters.
device 4 4
archive on cycle 3600 params X1,X2,X3,X4,Y1,Y2 mark 3 prefill 1737

# Recording in real time, one record a second.
device 3 4
input 1 42
channel 1 point 0
archive on cycle 1 params X1
"""


def words(registers):
    """Registers as the device's memory words: first byte + 256 * second byte."""
    return [((r >> 8) & 0xFF) | ((r & 0xFF) << 8) for r in registers]


def signed(w):
    return w - 0x10000 if w & 0x8000 else w


def decode(record):
    w = words(record)
    return {
        "mark": w[0] >> 14,
        "time": datetime.datetime(2000 + (w[2] & 0xFF), (w[1] >> 8) & 0x0F, w[1] & 0x1F,
                                  (w[2] >> 8) & 0x1F, w[3] & 0x3F, (w[3] >> 8) & 0x3F),
        "values": [signed(v) for v in w[4:]],
    }


def valid(record, mark):
    w = words(record)
    day, month = w[1] & 0x1F, (w[1] >> 8) & 0x0F
    hour, minute, second = (w[2] >> 8) & 0x1F, w[3] & 0x3F, (w[3] >> 8) & 0x3F
    return (w[0] >> 14 == mark and 1 <= day <= 31 and 1 <= month <= 12 and hour <= 23
            and minute <= 59 and second <= 59)


class ArchiveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator(SCENARIO)
        cls.c = client(cls.sim.port(1), 115200)

    @classmethod
    def tearDownClass(cls):
        cls.c.close()
        cls.sim.stop()

    def read_input(self, unit, first, count):
        regs = []
        while count > 0:
            n = min(count, 125)
            r = self.c.read_input_registers(first, n, slave=unit)
            self.assertFalse(r.isError(), r)
            regs += r.registers
            first += n
            count -= n
        return regs

    def write_position(self, unit):
        return words(self.read_input(unit, 50, 1))[0]

    def common_block(self, unit):
        return image_bytes(self.c.read_holding_registers(1179, 7, slave=unit).registers)

    def test_records_follow_the_layout(self):
        # 4 + 3 registers per record, 50 records from ring byte 0.
        self.assertEqual(self.write_position(1), 10 + 50 * 14)
        ring = self.read_input(1, 52, 50 * 7 + 7)
        newest = datetime.datetime(2026, 6, 15, 12, 0, 0)
        for i in range(50):
            with self.subTest(record=i):
                rec = decode(ring[7 * i:7 * i + 7])
                self.assertEqual(rec["mark"], 2)
                self.assertEqual(rec["time"], newest - datetime.timedelta(hours=49 - i))
                # X1 123.4 at one decimal, X3 -5 at two, Y1 50 + 2 * (130 - 123.4) percent.
                self.assertEqual(rec["values"], [1234, -500, 6320])
        self.assertEqual(ring[350:], [0] * 7)
        block = self.common_block(1)
        self.assertEqual(block[6], 0x01 | 0x04 | 0x10 | (2 << 6))
        self.assertEqual(struct.unpack("<H", block[4:6])[0], 3600)

    def test_ring_wraps_record_aligned(self):
        length = 10  # registers
        capacity = RING_BYTES // (2 * length)  # 1637
        w = self.write_position(2)
        self.assertEqual(w, 10 + (1737 - capacity) * 2 * length)
        ring = self.read_input(2, 52, RING_BYTES // 2)
        self.assertEqual(len(ring), 16375)
        newest = datetime.datetime(2026, 6, 15, 12, 0, 0)
        for slot in (0, 99, 100, 1636):
            with self.subTest(slot=slot):
                sequence = slot + capacity if slot < 100 else slot
                rec = decode(ring[slot * length:(slot + 1) * length])
                self.assertEqual(rec["time"], newest - datetime.timedelta(hours=1736 - sequence))
                self.assertEqual(rec["values"], [100, -200, 5, 70, 0, 0])
        # The tail too short for a record was never written.
        self.assertEqual(ring[capacity * length:], [0] * 5)

        # A reader walking back from W, jumping from the start to the last whole record at
        # the top, meets the records newest first, one cycle apart, and stops when it is back
        # at W: the oldest record, the next to be overwritten, lies there.
        end = 52 + (w - 10) // 2
        top = 52 + (capacity * 2 * length - 2 * length) // 2
        cur = end - length
        times = []
        while cur != end:
            if cur < 52:
                cur = top
            rec = ring[cur - 52:cur - 52 + length]
            if not valid(rec, 3):
                break
            times.append(decode(rec)["time"])
            cur -= length
        self.assertEqual(len(times), capacity - 1)
        self.assertTrue(all(a - b == datetime.timedelta(hours=1) for a, b in zip(times, times[1:])))
        self.assertEqual(times[0], newest)

    def test_new_parameters_move_to_the_next_mark(self):
        block = bytearray(self.common_block(4))
        self.assertEqual(block[6] >> 6, 3)
        w = self.write_position(4)
        # A new cycle alone keeps mark and position.
        block[4:6] = struct.pack("<H", 7200)
        self.c.write_registers(1179, list(struct.unpack(">7H", bytes(block))), slave=4)
        self.assertEqual(self.common_block(4)[6] >> 6, 3)
        self.assertEqual(self.write_position(4), w)
        # Only X1 from now on: the mark wraps from 3 to 0, writing restarts at ring byte 0 and
        # the device reseals its block and shadow.
        block[6] = 0x01 | (3 << 6)
        self.c.write_registers(1179, list(struct.unpack(">7H", bytes(block))), slave=4)
        after = self.common_block(4)
        self.assertEqual(after[6], 0x01)
        self.assertEqual(self.write_position(4), 10)
        crc = crc16_modbus(after[:12])
        self.assertEqual(after[12], crc >> 8)
        self.assertEqual(after[13], crc & 0xFF)
        shadow = image_bytes(self.c.read_holding_registers(1229, 7, slave=4).registers)
        self.assertEqual(shadow, after)
        # The old records stay but carry the old mark.
        self.assertEqual(decode(self.read_input(4, 52, 10))["mark"], 3)

    def test_records_at_the_registration_cycle(self):
        w0 = self.write_position(3)
        time.sleep(2.3)
        w1 = self.write_position(3)
        self.assertIn(w1 - w0, (20, 30))  # two or three 10-byte records
        clock = image_bytes(self.c.read_holding_registers(6, 3, slave=3).registers)
        rec = decode(self.read_input(3, 52 + (w1 - 10) // 2 - 5, 5))
        self.assertEqual(rec["values"], [42])
        now = datetime.datetime(2000 + clock[2], clock[1], clock[0], clock[3], clock[4], clock[5])
        self.assertLessEqual(abs((now - rec["time"]).total_seconds()), 2)
        # Coil 1 off stops recording, on resumes it.
        self.assertFalse(self.c.write_coils(1, [False], slave=3).isError())
        w2 = self.write_position(3)
        time.sleep(1.2)
        self.assertEqual(self.write_position(3), w2)
        self.c.write_coils(1, [True], slave=3)
        time.sleep(1.2)
        self.assertGreater(self.write_position(3), w2)


if __name__ == "__main__":
    unittest.main()
