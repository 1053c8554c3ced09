"""The publisher (mqttdriver) against a real broker on a loopback port, watched by mosquitto_sub."""

import json
import os
import pwd
import queue
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

TOOLS = {name: os.environ.get("LORVAN_" + name.upper(), "")
         for name in ("mosquitto", "mosquitto_sub", "mosquitto_passwd")}
WAIT = 10  # seconds any one expected event may take


class Stream:
    """The lines of a process's pipe, read on a thread, awaited with a time limit."""

    def __init__(self, pipe):
        self.queue, self.seen = queue.Queue(), []
        threading.Thread(target=self._read, args=(pipe,), daemon=True).start()

    def _read(self, pipe):
        with pipe:
            for line in pipe:
                self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def until(self, want, timeout=WAIT):
        """The lines up to the first that contains want."""
        end, got = time.monotonic() + timeout, []
        while not got or want not in got[-1]:
            try:
                got.append(self.queue.get(timeout=max(0.0, end - time.monotonic())))
            except queue.Empty:
                got.append(None)
            if got[-1] is None:
                raise AssertionError(f"{want!r} not seen; got {got}")
            self.seen.append(got[-1])
        return got

    def next(self, count):
        return sorted(self.until("")[0] for _ in range(count))

    def rows(self, last):
        """The row messages up to the one numbered last, as message() gives them."""
        return [parsed(l) for l in self.until(f'"num": {last},') if "/values " in l]


def row(num, port="COM1", address=5, device="Лорван/001/115200", values=(250.1, -1.5, 0, 7)):
    return (port, address, device, num, f"2026-12-10T10:15:{num:02}.120+03:00", *values)


def message(r):
    """A row's topic and its JSON as read back, keys in order."""
    chans = [(f"chan{i + 1}", None if v in ("nan", "inf", "-inf") else v)
             for i, v in enumerate(r[5:])]
    return (f"lorvan/{r[0]}/{r[1]}/values",
            [("time", r[4]), ("device", r[2]), ("num", r[3])] + chans)


def parsed(line):
    topic, payload = line.split(" ", 1)
    return topic, json.loads(payload, object_pairs_hook=list)


class MqttBrokerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="mqtt-")
        self.addCleanup(self.dir.cleanup)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]

    def spawn(self, *args, **kw):
        proc = subprocess.Popen(args, text=True, encoding="utf-8", **kw)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdin and proc.stdin.close()))
        return proc

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def start_broker(self, users=()):
        # Run as root, the broker would change to its own user, who cannot read our folder.
        lines = [f"listener {self.port} 127.0.0.1", "persistence false", "log_dest stderr",
                 f"user {pwd.getpwuid(os.getuid()).pw_name}",
                 f"allow_anonymous {'false' if users else 'true'}"]
        for i, user in enumerate(users):
            subprocess.run([TOOLS["mosquitto_passwd"], *["-c"][i:], "-b", self.path("passwords"),
                            *user], check=True)
        lines += [f"password_file {self.path('passwords')}"] * bool(users)
        with open(self.path("broker.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")
        self.broker = self.spawn(TOOLS["mosquitto"], "-c", self.path("broker.conf"),
                                 stderr=subprocess.PIPE)
        Stream(self.broker.stderr).until(" running")

    def subscribe(self, *options):
        return Stream(self.spawn(TOOLS["mosquitto_sub"], "-h", "127.0.0.1", "-p", str(self.port),
                                 "-v", "-q", "1", "-t", "lorvan/#", *options,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout)

    def driver(self, user="", password=""):
        settings = self.path(f"publisher-{time.monotonic_ns()}.conf")
        with open(settings, "w") as f:
            f.write(f"url = mqtt://127.0.0.1:{self.port}/lorvan\nuser = {user}\n"
                    f"password = {password}\n")
        proc = self.spawn(os.environ["LORVAN_MQTTDRIVER"], settings, stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        proc.out, proc.log = Stream(proc.stdout), Stream(proc.stderr)
        return proc

    def send(self, driver, *rows, flush_ms=5000):
        """Hands rows over and waits for their acknowledgement: (all acknowledged, dropped)."""
        driver.stdin.write("".join("\t".join(map(str, r)) + "\n" for r in rows))
        driver.stdin.write(f"flush {flush_ms}\n")
        driver.stdin.flush()
        _, done, dropped = driver.out.until("flushed", WAIT + flush_ms / 1000)[-1].split()
        return done == "1", int(dropped)

    def finish(self, driver):
        driver.stdin.close()
        self.assertEqual(driver.wait(WAIT), 0)  # also what the sanitizers found

    def test_rows_retained_values_and_will(self):
        self.start_broker()
        sub = self.subscribe()
        driver = self.driver()
        sub.until("lorvan/status online")
        rows = [row(1), row(2, values=("nan", "inf", "-inf", 1e-7)),
                row(3, port="COM2", address=247, device='Печь "№2" \\ цех'), row(4)]
        self.assertEqual(self.send(driver, *rows), (True, 0))
        self.assertEqual(sub.rows(4), [message(r) for r in rows])
        # A subscriber that comes later gets the last row of each device and the status.
        retained = self.subscribe().next(4)
        self.assertEqual([parsed(l) for l in retained[:2]], [message(rows[3]), message(rows[2])])
        self.assertEqual(retained[2:], ["lorvan/status online", "lorvan/status/dropped 0"])
        # Killed without a word: the broker says it for the publisher.
        driver.kill()
        sub.until("lorvan/status offline")

    def test_broker_away_and_back(self):
        self.start_broker()
        sub = self.subscribe()
        driver = self.driver()
        sub.until("lorvan/status online")
        self.assertEqual(self.send(driver, row(1), row(2)), (True, 0))
        self.assertEqual(sub.rows(2), [message(row(1)), message(row(2))])

        self.broker.terminate()
        self.assertIn(f"127.0.0.1:{self.port}", driver.log.until("потеряна")[-1])
        started = time.monotonic()
        self.assertEqual(self.send(driver, row(3), row(4), row(5), flush_ms=0), (True, 3))
        self.assertLess(time.monotonic() - started, 1, "rows waited for the broker")
        self.broker.wait(WAIT)

        self.start_broker()
        driver.log.until(f"не отправлено строк, пока не было связи с брокером "
                         f"127.0.0.1:{self.port}: 3 ")
        sub = self.subscribe()
        self.assertEqual(sub.next(2), ["lorvan/status online", "lorvan/status/dropped 3"])
        self.assertEqual(self.send(driver, row(6), row(7)), (True, 3))
        self.assertEqual(sub.rows(7), [message(row(6)), message(row(7))])
        self.finish(driver)
        sub.until("lorvan/status offline")

    def test_credentials(self):
        password = "Секрет,;=x"
        # Started before its broker: the publisher neither waits for it nor gives up.
        driver = self.driver("logger", password)
        self.assertIn(f"127.0.0.1:{self.port}", driver.log.until("не удалось подключиться")[-1])
        self.assertEqual(self.send(driver, row(1), flush_ms=0), (True, 1))
        self.start_broker(users=[("logger", password), ("viewer", "view")])
        sub = self.subscribe("-u", "viewer", "-P", "view")
        sub.until("lorvan/status/dropped 1")
        self.assertEqual(self.send(driver, row(2)), (True, 1))
        self.assertEqual(sub.rows(2), [message(row(2))])
        self.finish(driver)

        # A wrong password: said in the log, never shown, and no crash.
        wrong = self.driver("logger", "не" + password)
        refused = wrong.log.until("не удалось подключиться")[-1]
        self.assertIn(f"127.0.0.1:{self.port}: нет права на подключение (неверное имя", refused)
        self.assertEqual(self.send(wrong, row(3), flush_ms=0), (True, 1))
        self.finish(wrong)
        self.assertEqual([l for l in driver.log.seen + wrong.log.seen if "Секрет" in l], [])


if __name__ == "__main__":
    missing = [name for name, path in TOOLS.items() if not path]
    if missing:
        # Only where the packages are not installed; scripts/packages.txt names them.
        print("SKIPPED: not installed: " + ", ".join(missing))
        sys.exit(77)
    unittest.main(verbosity=2)
