"""lorvan-logger against the simulator on pseudo-terminals: the tables it fills, read back with
dbfread and with the configurator's own reader, a dead device's back-off, and the ends a service
meets (SIGTERM mid-poll, kill -9) followed by a restart."""

import csv
import io
import os
import pwd
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import dbfread

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "devsim"))
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "mqtt"))
from devsimharness import Simulator, program  # noqa: E402
from test_mqtt_broker import TOOLS, Stream, parsed  # noqa: E402

SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")

TWO_LINES = """
line 1
turnaround 5
pacing on
device 1 4
input 1 11.5
input 2 -3.25
input 3 100
input 4 0.5
device 2 4
input 1 21.5
input 2 2.71828
device 4 4
input 1 41.5
line 2
pacing on
device 3 0
input 1 31.5
input 4 1e3
"""
# Address: the channels the simulator answers with (the others stay at its default 20).
VALUES = {1: [11.5, -3.25, 100.0, 0.5], 2: [21.5, 2.7183, 20.0, 20.0], 3: [31.5, 20.0, 20.0, 1000.0],
          4: [41.5, 20.0, 20.0, 20.0]}


class Plant:
    """A data folder, a network file and the logger started on it as a process."""

    def __init__(self, sim, lines):
        self.dir = tempfile.TemporaryDirectory(prefix="logger-")
        self.data = os.path.join(self.dir.name, "data")
        self.net = os.path.join(self.dir.name, "plant.ini")
        self.env = dict(os.environ, LORVAN_HOME=self.data, LORVAN_PORT_DIR=sim.port_dir,
                        XDG_CONFIG_HOME=os.path.join(self.dir.name, "config"), LC_ALL="C.UTF-8")
        first = True
        # lines: (COM number, [(address, baud, period)...])
        for com, devices in lines:
            args = [program("LORVAN_NETFILE")] + ([] if first else ["--append"])
            args += [sim.port(com), str(com), self.net]
            args += [f"{a}:{b}:{p}" for a, b, p in devices]
            subprocess.run(args, env=self.env, check=True, timeout=30)
            first = False
        self.proc = None
        self.runs = 0

    def table(self, number):
        return os.path.join(self.data, f"ArcData{number}.dbf")

    def start(self, *args):
        self.runs += 1
        self.stderr = open(os.path.join(self.dir.name, f"logger{self.runs}.log"), "w+",
                           encoding="utf-8")
        self.proc = subprocess.Popen([program("LORVAN_LOGGER"), *args], env=self.env,
                                     stderr=self.stderr)

    def stop(self, sig=signal.SIGTERM):
        self.proc.send_signal(sig)
        code = self.proc.wait(timeout=10)
        self.stderr.seek(0)
        log = self.stderr.read()
        self.stderr.close()
        return code, log

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.dir.cleanup()


def rows(path):
    return list(dbfread.DBF(path))


def check_whole(test, path):
    """Every row the header counts is in the file, and nothing else is: no torn row."""
    table = dbfread.DBF(path)
    header = table.header
    size = os.path.getsize(path)
    test.assertIn(size - header.headerlen - header.numrecords * header.recordlen, (0, 1), path)
    records = list(table)
    test.assertEqual(len(records), header.numrecords)
    test.assertEqual([r["Num"] for r in records], [str(i) for i in range(len(records))])
    return records


def summary(log):
    """Polls and rows per line from the logger's words at each stop (a reload stops too)."""
    counts = {}
    for port, polls, written in re.findall(r"(COM\d+): (\d+) опросов, (\d+) строк", log):
        before = counts.get(port, (0, 0))
        counts[port] = (before[0] + int(polls), before[1] + int(written))
    return counts


class TablesTest(unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(TWO_LINES)
        # Device 2 is in the file with its cyclic polling on, device 4 with a long period.
        self.plant = Plant(self.sim, [(1, [(1, 115200, 1), (2, 115200, 2), (4, 115200, 60)]),
                                      (2, [(3, 9600, 1)])])

    def tearDown(self):
        self.plant.close()
        self.sim.stop()

    def test_two_lines_at_their_periods(self):
        # The lines named in the configuration file, as a service has them.
        config = os.path.join(self.plant.dir.name, "logger.conf")
        with open(config, "w", encoding="utf-8") as f:
            f.write(f"[logger]\nnetwork = plant.ini\n\n[ports]\nCOM1 = {self.sim.port(1)}\n"
                    f"COM2 = {self.sim.port(2)}\n")
        self.plant.env.pop("LORVAN_PORT_DIR")
        self.plant.start("--config", config)
        time.sleep(1.0)
        # The line is held for as long as the logger runs, and the others are told by whom.
        held = subprocess.run([program("LORVAN_CLI"), "identity", "--port", self.sim.port(1),
                               "--addr", "1"], capture_output=True, text=True, timeout=30)
        self.assertNotEqual(held.returncode, 0)
        self.assertIn("занят службой регистрации (lorvan-logger, процесс", held.stderr)
        time.sleep(3.5)
        code, log = self.plant.stop()
        self.assertEqual(code, 0, log)
        polls = summary(log)
        self.assertEqual(polls["COM1"][0], polls["COM1"][1], log)  # every poll answered

        counts = {}
        for number, address in ((1, 1), (2, 2), (3, 4), (4, 3)):
            records = check_whole(self, self.plant.table(number))
            counts[address] = len(records)
            for r in records:
                self.assertEqual([r[f"Chan{c}"] for c in range(1, 5)], VALUES[address])
            # The configurator's reader sees the same rows.
            cli = subprocess.run([program("LORVAN_CLI"), "table", self.plant.table(number)],
                                 capture_output=True, text=True, check=True, timeout=30)
            read = list(csv.DictReader(io.StringIO(cli.stdout)))
            self.assertEqual([(r["Num"], r["Date"]) for r in read],
                             [(r["Num"], r["Date"]) for r in records])
            self.assertEqual([float(r["Chan1"]) for r in read], [r["Chan1"] for r in records])
        # 4.5 s: the 1 s devices five times on either line, the 2 s one three, the 60 s one once.
        self.assertEqual(counts, {1: 5, 2: 3, 3: 5, 4: 1}, log)
        self.assertEqual(polls, {"COM1": (9, 9), "COM2": (5, 5)})

    def test_dead_device_backs_off(self):
        # The same network on a plant where device 2 has gone silent.
        self.sim.stop()
        self.sim = Simulator(TWO_LINES.replace("device 2 4\ninput 1 21.5\ninput 2 2.71828\n", ""))
        self.plant.env["LORVAN_PORT_DIR"] = self.sim.port_dir
        self.plant.start(self.plant.net)
        time.sleep(5.5)
        code, log = self.plant.stop()
        self.assertEqual(code, 0, log)
        self.assertRegex(log, r"COM1: адрес 2 \(.*\) не отвечает 3 раза подряд")
        # Three tries in the first three periods, then no more in the ten after them; the
        # others on the line keep their own periods.
        self.assertEqual(len(rows(self.plant.table(1))), 6, log)
        self.assertFalse(os.path.exists(self.plant.table(2)))
        self.assertEqual(summary(log)["COM1"], (6 + 1 + 3, 6 + 1), log)


class EndsTest(unittest.TestCase):
    """Slow replies keep the line busy, so that a signal comes in the middle of a poll."""

    SLOW = "line 1\nturnaround 100\npacing on\n" + "".join(
        f"device {a} 0\ninput 1 {a}.5\n" for a in range(1, 5))

    def setUp(self):
        self.sim = Simulator(self.SLOW)
        self.plant = Plant(self.sim, [(1, [(a, 9600, 1) for a in range(1, 5)])])

    def tearDown(self):
        self.plant.close()
        self.sim.stop()

    def test_sigterm_finishes_the_row_then_restart_continues(self):
        written = 0
        for run in range(2):
            self.plant.start(self.plant.net)
            time.sleep(1.2 + 0.37 * run)
            if run == 0:
                # A reload in the middle of a poll stops the line the same way and starts it
                # again on the file read afresh.
                self.plant.proc.send_signal(signal.SIGHUP)
                time.sleep(0.8)
            started = time.monotonic()
            code, log = self.plant.stop(signal.SIGTERM)
            self.assertEqual(code, 0, log)
            # A poll takes about half a second here: it ends, it is not waited for longer.
            self.assertLess(time.monotonic() - started, 1.5)
            polls, new_rows = summary(log)["COM1"]
            self.assertEqual(polls, new_rows, log)  # the poll under way wrote its row
            self.assertEqual(log.count("перечитываю настройку"), 1 - run, log)
            written += new_rows
        total = sum(len(check_whole(self, self.plant.table(n))) for n in range(1, 5))
        self.assertEqual(total, written)

    def test_kill_and_restart_continue_the_tables(self):
        random.seed(7)
        for _ in range(3):
            self.plant.start("--pause", "0", self.plant.net)
            time.sleep(random.uniform(0.6, 1.4))
            code, _ = self.plant.stop(signal.SIGKILL)
            self.assertEqual(code, -signal.SIGKILL)
            before = [len(check_whole(self, self.plant.table(n))) for n in range(1, 5)]
        self.plant.start(self.plant.net)
        time.sleep(1.5)
        code, log = self.plant.stop()
        self.assertEqual(code, 0, log)
        after = [len(check_whole(self, self.plant.table(n))) for n in range(1, 5)]
        self.assertEqual(sum(after), sum(before) + summary(log)["COM1"][1])


class ServiceTest(unittest.TestCase):
    def test_broker_settings_refused_with_the_reason(self):
        with tempfile.TemporaryDirectory() as d:
            config = os.path.join(d, "logger.conf")
            with open(config, "w", encoding="utf-8") as f:
                f.write("[logger]\nnetwork = plant.ini\n[mqtt]\nurl = mqtt://localhost:1883/lorvan\n"
                        "password = secret-word\n")
            r = subprocess.run([program("LORVAN_LOGGER"), "--config", config],
                               capture_output=True, text=True, timeout=30)
            self.assertEqual(r.returncode, 78, r.stderr)
            self.assertIn("пароль задан без имени пользователя", r.stderr)
            self.assertNotIn("secret-word", r.stderr)

    def test_unit_file_verifies(self):
        tool = shutil.which("systemd-analyze")
        if not tool:
            self.skipTest("systemd-analyze is not installed")
        unit = os.path.join(SOURCE, "dist", "lorvan-logger.service")
        with tempfile.TemporaryDirectory() as d:
            # The unit names the installed program and manual page; verify it against the
            # built program and the page in the source tree.
            with open(unit, encoding="utf-8") as f:
                text = f.read().replace("/usr/bin/lorvan-logger", program("LORVAN_LOGGER"))
            copy = os.path.join(d, "lorvan-logger.service")
            with open(copy, "w", encoding="utf-8") as f:
                f.write(text)
            os.mkdir(os.path.join(d, "man8"))
            shutil.copy(os.path.join(SOURCE, "dist", "lorvan-logger.8"), os.path.join(d, "man8"))
            r = subprocess.run([tool, "verify", copy], capture_output=True, text=True,
                               timeout=60, env=dict(os.environ, MANPATH=d))
            self.assertEqual(r.returncode, 0, r.stderr)
            # An unknown or misspelt key is only a warning to the tool, but a fault here.
            self.assertNotIn("lorvan-logger.service", r.stderr)

if __name__ == "__main__":
    unittest.main()


@unittest.skipUnless(all(TOOLS.values()), "the broker and its clients are not installed")
class BrokerTest(unittest.TestCase):
    """The rows as a broker's subscriber sees them, across a broker that goes away and back."""

    def setUp(self):
        self.sim = Simulator(TWO_LINES)
        self.plant = Plant(self.sim, [(1, [(1, 115200, 1), (2, 115200, 1)])])
        with socket.socket() as sock:
            sock.bind(("127.0.0.1", 0))
            self.port = sock.getsockname()[1]
        self.config = os.path.join(self.plant.dir.name, "logger.conf")
        with open(self.config, "w", encoding="utf-8") as f:
            f.write(f"[logger]\nnetwork = plant.ini\n[mqtt]\n"
                    f"url = mqtt://127.0.0.1:{self.port}/plant\n")
        self.procs = []

    def tearDown(self):
        for proc in self.procs:
            proc.kill()
            proc.wait()
        self.plant.close()
        self.sim.stop()

    def spawn(self, *args, **kw):
        proc = subprocess.Popen(args, text=True, encoding="utf-8", **kw)
        self.procs.append(proc)
        return proc

    def start_broker(self):
        conf = os.path.join(self.plant.dir.name, "broker.conf")
        with open(conf, "w") as f:
            f.write(f"listener {self.port} 127.0.0.1\npersistence false\nlog_dest stderr\n"
                    f"user {pwd.getpwuid(os.getuid()).pw_name}\nallow_anonymous true\n")
        broker = self.spawn(TOOLS["mosquitto"], "-c", conf, stderr=subprocess.PIPE)
        Stream(broker.stderr).until(" running")
        return broker

    def subscribe(self):
        return Stream(self.spawn(TOOLS["mosquitto_sub"], "-h", "127.0.0.1", "-p", str(self.port),
                                 "-v", "-q", "1", "-t", "plant/#", stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL).stdout)

    @staticmethod
    def rows_until(sub, num):
        """The row messages until both devices have sent the row numbered num."""
        rows = []
        while {1, 2} - {int(t.split("/")[2]) for t, f in rows if dict(f)["num"] >= num}:
            rows += [parsed(line) for line in sub.until("/values ") if "/values " in line]
        return rows

    def test_messages_equal_the_rows(self):
        broker = self.start_broker()
        sub = self.subscribe()
        self.plant.start("--config", self.config)
        sub.until("plant/status online")
        seen = self.rows_until(sub, 2)

        broker.terminate()
        broker.wait(10)
        time.sleep(2.5)  # the tables go on without the broker
        broker = self.start_broker()
        sub = self.subscribe()
        # The last row of each device is retained; the count of rows not sent comes with it.
        back = sub.until("plant/status/dropped")
        seen += [parsed(line) for line in back if "/values " in line]
        seen += self.rows_until(sub, 6)
        self.plant.proc.kill()
        sub.until("plant/status offline")
        self.assertGreater(int(back[-1].split()[-1]), 0, back)

        tables = {1: check_whole(self, self.plant.table(1)), 2: check_whole(self, self.plant.table(2))}
        self.assertGreaterEqual(min(len(t) for t in tables.values()), 6)
        for topic, fields in seen:
            message = dict(fields)
            address = int(topic.split("/")[2])
            self.assertEqual(topic, f"plant/COM1/{address}/values")
            self.assertEqual(message["device"], f"Лорван/{address:03}/115200")
            row = tables[address][message["num"]]
            self.assertEqual(row["Num"], str(message["num"]))
            self.assertIn(message["time"][11:19], row["Date"])
            self.assertEqual([message[f"chan{c}"] for c in range(1, 5)],
                             [row[f"Chan{c}"] for c in range(1, 5)])
        nums = {a: sorted(dict(f)["num"] for t, f in seen if t.split("/")[2] == str(a))
                for a in (1, 2)}
        # Rows before and after the broker's absence; the ones in between were only counted.
        for address, got in nums.items():
            self.assertIn(0, got, nums)
            self.assertGreaterEqual(max(got), 6, nums)
