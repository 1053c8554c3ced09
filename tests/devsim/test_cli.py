"""lorvan-cli, the configurator's own link, against the simulator's default scenario: each
device answers at its own line speed only."""

import unittest

from devsimharness import SPEEDS, Simulator, run_cli

# The default scenario's devices: address, line-speed code.
DEVICES = [(1, 4), (2, 1), (5, 0)]


class CliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator()

    @classmethod
    def tearDownClass(cls):
        code, links = cls.sim.stop()
        assert code == 0 and links == [], (code, links)

    def run_cli(self, baud, address, *command, stop_bits=2):
        return run_cli(*command, port=self.sim.port(1), baud=baud, stop_bits=stop_bits,
                       addr=address, timeout=30)

    def test_identity_at_own_speed_only(self):
        for address, code in DEVICES:
            for index, baud in enumerate(SPEEDS):
                with self.subTest(address=address, baud=baud):
                    r = self.run_cli(baud, address, "read-holding", "0", "9")
                    if index == code:
                        self.assertEqual(r.returncode, 0, r.stderr)
                        identity = [int(b, 16) for b in r.stdout.split()]
                        self.assertEqual(len(identity), 18)
                        self.assertEqual(identity[6:8], [address, code])
                        self.assertIn(identity[1], (2, 3))
                    else:
                        self.assertEqual(r.returncode, 9, r.stdout)

    def test_test_tool_framing_and_options(self):
        # One stop bit, as the test tool sets it, makes no difference to the device.
        r = self.run_cli(115200, 1, "read-holding", "0", "9", stop_bits=1)
        self.assertEqual(r.returncode, 0, r.stderr)
        # Device 1 has setpoint programs and an archive; its first program has 3 segments.
        identity = [int(b, 16) for b in r.stdout.split()]
        self.assertEqual(identity[11] & 0x05, 0x05)
        r = self.run_cli(115200, 1, "read-holding", "1279", "4")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(int(r.stdout.split()[6], 16), 3)
        # Its archive has a few hundred records of 4 + 5 registers.
        r = self.run_cli(115200, 1, "read-input", "50", "1")
        w = int(r.stdout.split()[0], 16) | int(r.stdout.split()[1], 16) << 8
        self.assertGreaterEqual((w - 10) // 18, 300)
        # A range past the ring: the device's exception code is the exit status.
        self.assertEqual(self.run_cli(9600, 5, "read-input", "16426", "2").returncode, 2)


if __name__ == "__main__":
    unittest.main()
