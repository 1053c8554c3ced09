"""The publisher (through tests/mqtt/mqttdriver) against a real mosquitto broker on a loopback port,
watched by mosquitto_sub: what subscribers receive, the retained values, the will, a broker that
goes away and comes back, and credentials."""

import json
import os
import pwd
import queue
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

BROKER = os.environ.get("LORVAN_MOSQUITTO", "")
SUB = os.environ.get("LORVAN_MOSQUITTO_SUB", "")
PASSWD = os.environ.get("LORVAN_MOSQUITTO_PASSWD", "")
OPENSSL = os.environ.get("LORVAN_OPENSSL", "")
DRIVER = os.environ.get("LORVAN_MQTTDRIVER", "")
WAIT = 10  # seconds any single expected event may take


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Lines:
    """The lines a process writes to one of its pipes, read on a thread, waited for with a time
    limit."""

    def __init__(self, pipe):
        self.queue = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, args=(pipe,), daemon=True).start()

    def _read(self, pipe):
        with pipe:
            for line in pipe:
                self.queue.put(line.rstrip("\n"))
        self.queue.put(None)

    def next(self, timeout=WAIT):
        line = self.queue.get(timeout=timeout)
        if line is not None:
            self.seen.append(line)
        return line

    def until(self, predicate, timeout=WAIT):
        """Lines up to and including the first that satisfies predicate."""
        end = time.monotonic() + timeout
        got = []
        while True:
            try:
                line = self.next(max(0.0, end - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"not seen within {timeout} s; got {got}") from None
            if line is None:
                raise AssertionError(f"the stream ended; got {got}")
            got.append(line)
            if predicate(line):
                return got


class Broker:
    def __init__(self, folder, users=None, port=None, tls=None):
        self.port = port or free_port()
        self.conf = os.path.join(folder, "broker.conf")
        # Run as root, the broker would change to its own user, who cannot read our folder.
        lines = [f"listener {self.port} 127.0.0.1", "persistence false", "log_dest stderr",
                 f"user {pwd.getpwuid(os.getuid()).pw_name}",
                 "log_type error", "log_type warning", "log_type notice", "log_type information"]
        if users:
            passwords = os.path.join(folder, "passwords")
            for i, (user, password) in enumerate(users.items()):
                subprocess.run([PASSWD] + (["-c"] if i == 0 else []) +
                               ["-b", passwords, user, password], check=True)
            lines += ["allow_anonymous false", f"password_file {passwords}"]
        else:
            lines.append("allow_anonymous true")
        if tls:
            lines += [f"cafile {tls['ca']}", f"certfile {tls['cert']}", f"keyfile {tls['key']}"]
        with open(self.conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self.proc = None
        self.start()

    def start(self):
        self.proc = subprocess.Popen([BROKER, "-c", self.conf], stderr=subprocess.PIPE, text=True)
        Lines(self.proc.stderr).until(lambda l: " running" in l)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(WAIT)


class Subscriber:
    def __init__(self, broker, topic="lorvan/#", credentials=()):
        self.proc = subprocess.Popen([SUB, "-h", "127.0.0.1", "-p", str(broker.port), "-v",
                                      "-q", "1", "-t", topic, *credentials],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, encoding="utf-8")
        self.lines = Lines(self.proc.stdout)

    def until(self, line):
        return self.lines.until(lambda l: l == line)

    def close(self):
        self.proc.kill()
        self.proc.wait()


class Driver:
    def __init__(self, folder, broker_port, user=None, password=None, cafile=None):
        settings = os.path.join(folder, "publisher.conf")
        with open(settings, "w") as f:
            f.write(f"url = {'mqtts' if cafile else 'mqtt'}://127.0.0.1:{broker_port}/lorvan\n")
            if user:
                f.write(f"user = {user}\npassword = {password}\n")
            if cafile:
                f.write(f"cafile = {cafile}\n")
        self.proc = subprocess.Popen([DRIVER, settings], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     encoding="utf-8")
        self.out = Lines(self.proc.stdout)
        self.log = Lines(self.proc.stderr)

    def send(self, *rows):
        for row in rows:
            values = "\t".join(str(v) for v in row["values"])
            self.proc.stdin.write(f"{row['port']}\t{row['address']}\t{row['device']}\t"
                                  f"{row['num']}\t{row['time']}\t{values}\n")
        self.proc.stdin.flush()

    def flush(self, ms):
        """Waits until the rows sent so far are acknowledged; returns (acknowledged, dropped)."""
        self.proc.stdin.write(f"flush {ms}\n")
        self.proc.stdin.flush()
        _, done, dropped = self.out.next(WAIT + ms / 1000).split()
        return done == "1", int(dropped)

    def wait_log(self, text):
        return self.log.until(lambda l: text in l)

    def finish(self):
        self.proc.stdin.close()
        code = self.proc.wait(WAIT)
        while self.log.next() is not None:
            pass
        return code


def row(num, port="COM1", address=5, device="Лорван/001/115200", values=(250.1, -1.5, 0, 7)):
    return {"port": port, "address": address, "device": device, "num": num,
            "time": f"2026-12-10T10:15:{num % 60:02}.120+03:00", "values": list(values)}


def message(r):
    """The line mosquitto_sub -v prints for a row, as topic and the JSON read back in order."""
    values = [None if v in ("nan", "inf", "-inf") else float(v) for v in r["values"]]
    pairs = [("time", r["time"]), ("device", r["device"]), ("num", r["num"])]
    pairs += [(f"chan{i + 1}", v) for i, v in enumerate(values)]
    return f"lorvan/{r['port']}/{r['address']}/values", pairs


def parsed(line):
    topic, payload = line.split(" ", 1)
    return topic, json.loads(payload, object_pairs_hook=list)


class MqttBrokerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="mqtt-")
        self.procs = []

    def tearDown(self):
        for p in self.procs:
            if p.proc.poll() is None:
                p.proc.kill()
                p.proc.wait()
            for pipe in (p.proc.stdin, p.proc.stdout, p.proc.stderr):
                if pipe:
                    pipe.close()
        self.dir.cleanup()

    def started(self, thing):
        self.procs.append(thing)
        return thing

    def broker(self, **kw):
        return self.started(Broker(self.dir.name, **kw))

    def subscriber(self, broker, **kw):
        return self.started(Subscriber(broker, **kw))

    def driver(self, port, **kw):
        return self.started(Driver(self.dir.name, port, **kw))

    def test_rows_retained_values_and_will(self):
        broker = self.broker()
        sub = self.subscriber(broker)
        driver = self.driver(broker.port)
        driver.wait_log("установлена")
        sub.until("lorvan/status online")
        rows = [row(1), row(2, values=("nan", "inf", "-inf", 1e-7)),
                row(3, port="COM2", address=247, device='Печь "№2" \\ цех'), row(4)]
        driver.send(*rows)
        self.assertEqual(driver.flush(5000), (True, 0))
        got = [parsed(l) for l in sub.lines.until(lambda l: '"num": 4' in l)
               if "/values " in l]
        self.assertEqual(got, [message(r) for r in rows])

        # A subscriber that comes later gets the last row of each device and the status.
        late = self.subscriber(broker)
        retained = sorted(late.lines.next() for _ in range(4))
        self.assertEqual([parsed(l) for l in retained if "/values " in l],
                         [message(rows[3]), message(rows[2])])
        self.assertIn("lorvan/status online", retained)
        self.assertIn("lorvan/status/dropped 0", retained)

        # Killed without a word: the broker says it for the publisher.
        driver.proc.send_signal(signal.SIGKILL)
        driver.proc.wait()
        sub.until("lorvan/status offline")

    def test_broker_away_and_back(self):
        broker = self.broker()
        before_sub = self.subscriber(broker)
        driver = self.driver(broker.port)
        driver.wait_log("установлена")
        before_sub.until("lorvan/status online")
        before, between, after = [row(1), row(2)], [row(3), row(4), row(5)], [row(6), row(7)]
        driver.send(*before)
        self.assertEqual(driver.flush(5000), (True, 0))
        got = before_sub.lines.until(lambda l: '"num": 2' in l)
        self.assertEqual([parsed(l) for l in got if "/values " in l],
                         [message(r) for r in before])

        broker.stop()
        before_sub.close()
        lost = driver.wait_log("потеряна")
        self.assertIn(f"127.0.0.1:{broker.port}", lost[-1])
        started = time.monotonic()
        driver.send(*between)
        self.assertEqual(driver.flush(0)[1], len(between))
        self.assertLess(time.monotonic() - started, 1, "rows waited for the broker")

        broker.start()
        driver.wait_log("установлена")
        self.assertIn(f"не отправлено строк, пока не было связи с брокером 127.0.0.1:{broker.port}"
                      f": {len(between)}", driver.wait_log("не отправлено")[-1])
        after_sub = self.subscriber(broker)
        status = sorted([after_sub.lines.next(), after_sub.lines.next()])
        self.assertEqual(status, ["lorvan/status online", f"lorvan/status/dropped {len(between)}"])
        driver.send(*after)
        self.assertEqual(driver.flush(5000), (True, len(between)))
        got = after_sub.lines.until(lambda l: '"num": 7' in l)
        self.assertEqual([parsed(l) for l in got if "/values " in l],
                         [message(r) for r in after])

        # A clean stop says so itself.
        self.assertEqual(driver.finish(), 0)
        after_sub.until("lorvan/status offline")

    def test_credentials(self):
        password = "Секрет,;=x"
        port = free_port()
        # Started before its broker: the publisher neither waits for it nor gives up.
        driver = self.driver(port, user="logger", password=password)
        self.assertIn(f"127.0.0.1:{port}", driver.wait_log("не удалось подключиться")[-1])
        driver.send(row(1))
        self.assertEqual(driver.flush(0), (True, 1))

        broker = self.broker(users={"logger": password, "viewer": "view"}, port=port)
        driver.wait_log("установлена")
        sub = self.subscriber(broker, credentials=("-u", "viewer", "-P", "view"))
        sub.until("lorvan/status/dropped 1")
        driver.send(row(2))
        self.assertEqual(driver.flush(5000), (True, 1))
        self.assertEqual(parsed(sub.lines.until(lambda l: "/values " in l)[-1]), message(row(2)))
        self.assertEqual(driver.finish(), 0)

        # A wrong password: said in the log, retried, never shown, and no crash.
        wrong = self.driver(port, user="logger", password="не" + password)
        refused = wrong.wait_log("не удалось подключиться")[-1]
        self.assertIn(f"127.0.0.1:{port}", refused)
        self.assertIn("имя пользователя или пароль", refused)
        wrong.send(row(3))
        self.assertEqual(wrong.flush(0), (True, 1))
        self.assertIsNone(wrong.proc.poll())
        self.assertEqual(wrong.finish(), 0)
        for line in driver.log.seen + wrong.log.seen:
            self.assertNotIn("Секрет", line)

    def test_tls(self):
        certs = self.certificates()
        broker = self.broker(tls=certs)
        sub = self.subscriber(broker, credentials=("--cafile", certs["ca"]))
        driver = self.driver(broker.port, cafile=certs["ca"])
        driver.wait_log("установлена")
        sub.until("lorvan/status online")
        driver.send(row(1))
        self.assertEqual(driver.flush(5000), (True, 0))
        self.assertEqual(parsed(sub.lines.until(lambda l: "/values " in l)[-1]), message(row(1)))
        self.assertEqual(driver.finish(), 0)

        # A broker whose certificate the CA file does not vouch for is refused, and retried.
        stranger = self.driver(broker.port, cafile=certs["other"])
        refused = stranger.wait_log("не удалось подключиться")[-1]
        self.assertIn(f"127.0.0.1:{broker.port}", refused)
        self.assertIn("TLS", refused)
        self.assertEqual(stranger.finish(), 0)
        missing = self.driver(broker.port, cafile=os.path.join(self.dir.name, "none.pem"))
        self.assertIn("none.pem", missing.wait_log("не читается")[-1])
        self.assertEqual(missing.finish(), 0)

    def certificates(self):
        """A CA, a broker certificate it signed for 127.0.0.1, and an unrelated CA."""
        d = self.dir.name
        ssl = [OPENSSL, "req", "-x509", "-newkey", "ec", "-pkeyopt",
               "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"]
        for name in ("ca", "other"):
            subprocess.run(ssl + ["-keyout", f"{d}/{name}.key", "-out", f"{d}/{name}.pem",
                                  "-subj", f"/CN=Test {name}"], check=True, capture_output=True)
        subprocess.run(ssl + ["-keyout", f"{d}/broker.key", "-out", f"{d}/broker.pem",
                              "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                              "-CA", f"{d}/ca.pem", "-CAkey", f"{d}/ca.key"],
                       check=True, capture_output=True)
        return {"ca": f"{d}/ca.pem", "other": f"{d}/other.pem", "cert": f"{d}/broker.pem",
                "key": f"{d}/broker.key"}


if __name__ == "__main__":
    missing = [name for name, path in (("mosquitto", BROKER), ("mosquitto_sub", SUB),
                                       ("mosquitto_passwd", PASSWD), ("openssl", OPENSSL))
               if not path]
    if missing:
        # Only where the packages are not installed; scripts/packages.txt names them.
        print("SKIPPED: not installed: " + ", ".join(missing))
        sys.exit(77)
    if not DRIVER:
        sys.exit("LORVAN_MQTTDRIVER not set: run through CTest")
    unittest.main(verbosity=2)
