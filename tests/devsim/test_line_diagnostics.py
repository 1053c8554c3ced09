"""The line diagnostics against the simulator as a process: lorvan-cli's exchange statistics
against the simulator's log, and lorvan-cli monitor on the simulator's tap, whose decoded pairs
must be what the simulator's log says crossed the line."""

import csv
import io
import re
import signal
import statistics
import time
import unittest
from datetime import datetime

from devsimharness import Simulator, run_cli, start_cli

SCENARIO = """line 1
turnaround 5
pacing on
monitor on
device 1 4
device 2 4
fault exception 2 0.4
fault seed 3
device 3 4
fault corrupt-lrc 0.4
fault seed 4
device 4 4
fault noise 0.5 3
fault seed 5
device 6 4
fault drop 0.3
fault seed 6
"""

LOG_LINE = re.compile(r"^(\S+) COM\d+ (<-|->|--) ?([^(]*)(?:\((.*)\))?$")
TOKEN = re.compile(r"<(CR|LF|[0-9A-F]{2})>")


def unprintable(shown):
    return TOKEN.sub(lambda m: {"CR": "\r", "LF": "\n"}.get(m.group(1))
                     or chr(int(m.group(1), 16)), shown)


def logged_exchanges(text):
    """(request, reply as sent or "", reply time in ms or None) per request, in order."""
    lines = [LOG_LINE.match(l) for l in text.splitlines()]
    lines = [m for m in lines if m]
    out = []
    for i, m in enumerate(lines):
        if m.group(2) != "<-":
            continue
        sent, last = "", None
        for r in lines[i + 1:]:
            if r.group(2) != "->":
                break
            sent += unprintable(r.group(3).strip())
            last = r.group(1)
        at = datetime.fromisoformat(m.group(1))
        ms = (datetime.fromisoformat(last) - at).total_seconds() * 1000 if last else None
        out.append((unprintable(m.group(3).strip()), sent, ms))
    return out


class LineDiagnosticsTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(SCENARIO)
        self.port = self.sim.port(1)

    def tearDown(self):
        code, links = self.sim.stop()
        self.assertEqual((code, links), (0, []))

    def register_command(self, address, *command):
        return run_cli(*command, port=self.port, baud=115200, addr=address, timeout=30)

    def test_monitor_pairs_equal_the_log(self):
        monitor = start_cli("monitor", "--csv", port=self.port + "-monitor", baud=115200)
        time.sleep(0.5)
        for _ in range(6):
            for address in (1, 2, 3, 4):
                self.register_command(address, "read-input", "0", "8")
        self.register_command(1, "write-holding", "1200", "00010002")
        self.register_command(1, "read-holding", "1200", "2")
        self.register_command(6, "read-holding", "0", "9")
        time.sleep(0.3)
        monitor.send_signal(signal.SIGINT)
        out, err = monitor.communicate(timeout=10)
        self.assertEqual(monitor.returncode, 0, err)
        rows = list(csv.DictReader(io.StringIO(out)))
        logged = logged_exchanges(self.sim.log_text())

        # Requests in the order the simulator took them, each with what came back.
        seen = []
        noise = ""
        for row in rows:
            text = unprintable(row["text"])
            if row["event"] == "noise":
                noise += text
            elif row["event"] == "request":
                seen.append([text, noise, None, None])
                noise = ""
            elif row["event"] == "reply":
                seen[-1][1] += noise
                seen[-1][2] = text
                seen[-1][3] = row
                noise = ""
        self.assertEqual([s[0] for s in seen], [l[0] for l in logged])
        kinds = set()
        drift = []
        for (request, noise, reply, row), (_, sent, ms) in zip(seen, logged):
            with self.subTest(request=request):
                self.assertEqual(noise + (reply or ""), sent)
                if not sent:
                    kinds.add("unanswered")
                    continue
                function = int(sent[sent.index(":") + 3:sent.index(":") + 5], 16)
                frame = bytes.fromhex(sent[sent.index(":") + 1:-2])
                good = sum(frame) % 256 == 0
                self.assertEqual(row["lrc"], "good" if good else "wrong")
                self.assertEqual(int(row["function"]), function)
                if function & 0x80:
                    self.assertEqual(row["exception"], "2")
                    kinds.add("exception")
                kinds.add("write" if function == 16 else "read")
                if not good:
                    kinds.add("bad lrc")
                if noise:
                    kinds.add("noise")
                drift.append(float(row["reply_ms"]) - ms)
        self.assertEqual(kinds, {"read", "write", "exception", "bad lrc", "noise", "unanswered"})
        self.assertEqual(sum(1 for r in rows if r["event"] == "unanswered"),
                         sum(1 for l in logged if not l[1]))
        self.assertLessEqual(abs(statistics.median(drift)), 2.0, drift)

    def test_stats_equal_the_log(self):
        r = run_cli("poll", "--count", "12", "--period", "1", "--stats", port=self.port, addr=3,
                    baud=115200)
        self.assertIn(r.returncode, (0, 9), r.stderr)
        table = [l.split("\t") for l in r.stderr.splitlines() if "\t" in l]
        header, row = table[0], dict(zip(table[0], table[1]))
        self.assertEqual(header[:4], ["port", "address", "requests", "good"])
        logged = logged_exchanges(self.sim.log_text())
        bad = sum(1 for _, sent, _ in logged if sum(bytes.fromhex(sent[1:-2])) % 256)
        self.assertEqual(int(row["requests"]), len(logged))
        self.assertEqual(int(row["lrc_error"]), bad)
        self.assertEqual(int(row["good"]), len(logged) - bad)

        # Ctrl-C in the middle: the counts so far, and the status of an interrupted program.
        poll = start_cli("poll", "--period", "1", "--stats", port=self.port, addr=1, baud=115200)
        time.sleep(2.5)
        poll.send_signal(signal.SIGINT)
        _, err = poll.communicate(timeout=10)
        self.assertEqual(poll.returncode, 130, err)
        lines = err.splitlines()
        self.assertTrue(lines[-2].startswith("port\taddress\t"), err)
        self.assertEqual(lines[-1].split("\t")[1], "1", err)
        self.assertGreaterEqual(int(lines[-1].split("\t")[2]), 2)


if __name__ == "__main__":
    unittest.main()
