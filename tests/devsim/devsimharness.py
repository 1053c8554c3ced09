"""Starts lorvan-devsim as a process on a scenario and talks to its lines."""

import os
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import serial
from pymodbus.client import ModbusSerialClient
from pymodbus.framer.ascii_framer import ModbusAsciiFramer

SPEEDS = [9600, 19200, 38400, 57600, 115200]


def program(name):
    """Path of a built program, handed over by CTest in the environment."""
    path = os.environ.get(name)
    if not path:
        raise unittest.SkipTest(f"{name} not set")
    return path


# lorvan-cli's sub-commands take their options after their name; the register commands
# (read-holding, write-coils, ...) take the line options first.
CLI_SUBCOMMANDS = {"scan", "identity", "poll", "table", "netfile", "programs", "snapshot",
                   "compare", "restore", "monitor", "ports"}


def cli_command(*args, port=None, baud=None, addr=None, stop_bits=None):
    """lorvan-cli's command line with the line options given."""
    line = []
    for option, value in (("--port", port), ("--baud", baud), ("--stop-bits", stop_bits),
                          ("--addr", addr)):
        if value is not None:
            line += [option, str(value)]
    args = list(args)
    head = [args.pop(0)] if args and args[0] in CLI_SUBCOMMANDS else []
    return [program("LORVAN_CLI"), *head, *line, *args]


def run_cli(*args, stdin=None, env=None, timeout=60, **line):
    """Runs lorvan-cli to its end; the finished process with its text output."""
    return subprocess.run(cli_command(*args, **line), capture_output=True, text=True,
                          input=stdin, env=env, timeout=timeout)


def start_cli(*args, **line):
    """Starts lorvan-cli (a monitor or a poll that runs until stopped) with piped output."""
    return subprocess.Popen(cli_command(*args, **line), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


class Simulator:
    def __init__(self, scenario_text=None):
        self.dir = tempfile.TemporaryDirectory(prefix="devsim-")
        self.port_dir = os.path.join(self.dir.name, "ports")
        os.mkdir(self.port_dir)
        self.log = os.path.join(self.dir.name, "devsim.log")
        args = [program("LORVAN_DEVSIM"), "--port-dir", self.port_dir, "--log", self.log]
        if scenario_text is not None:
            path = os.path.join(self.dir.name, "scenario.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write(scenario_text)
            args.append(path)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True)
        self.ptys = {}
        # One line per published line; the program prints them all before it waits.
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("simulator ended: " + self.proc.stderr.read())
            name, pty = line.split()
            self.ptys[name] = pty
            if len(self.ptys) == self.expected_lines(scenario_text):
                break

    @staticmethod
    def expected_lines(text):
        if text is None:
            return 2  # COM1 and its tap
        words = [l.split("#")[0].split() for l in text.splitlines()]
        return sum(1 for w in words if w[:1] == ["line"] or w == ["monitor", "on"])

    def port(self, n):
        return os.path.join(self.port_dir, f"COM{n}")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        code = self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.proc.stderr.close()
        links = os.listdir(self.port_dir)
        self.dir.cleanup()
        return code, links

    def log_text(self):
        with open(self.log, encoding="utf-8") as f:
            return f.read()


def client(path, baud, stopbits=2, timeout=1):
    # pymodbus 3.0 waits for nothing with a timeout below one second: keep whole seconds.
    c = ModbusSerialClient(port=path, framer=ModbusAsciiFramer, baudrate=baud, bytesize=8,
                           parity="N", stopbits=stopbits, timeout=timeout, retries=0)
    if not c.connect():
        raise RuntimeError("cannot open " + path)
    return c


def lrc(data):
    return (-sum(data)) & 0xFF


def frame(data, lower=False):
    text = (bytes(data) + bytes([lrc(data)])).hex()
    return b":" + (text if lower else text.upper()).encode() + b"\r\n"


def raw_exchange(path, baud, request, wait=0.4):
    """Sends raw bytes and returns everything that arrives within wait seconds."""
    with serial.Serial(path, baud, bytesize=8, parity="N", stopbits=2, timeout=0) as s:
        s.reset_input_buffer()
        s.write(request)
        s.flush()
        got = b""
        end = time.monotonic() + wait
        while time.monotonic() < end:
            got += s.read(1024)
            time.sleep(0.005)
        return got


def floats(registers):
    """Floats kept least significant byte first in image order, from pymodbus's words."""
    raw = b"".join(struct.pack(">H", r) for r in registers)
    return [struct.unpack("<f", raw[i:i + 4])[0] for i in range(0, len(raw), 4)]


def image_bytes(registers):
    return b"".join(struct.pack(">H", r) for r in registers)


def crc16_modbus(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
