"""An independent MODBUS ASCII slave for the tests: pymodbus's own framer, request decoder and
data store answer on the master side of a pseudo-terminal whose slave side is published under a
link path, so no framing code of ours is on the device side.

As a program (pymodbusslave.py LINK) it prints "ready" once the link exists, then a line
"request <speed> <stop bits>" per request it answered, and takes commands on stdin, one a line:
"mute" (hear requests, answer nothing), "speak", and "get <function> <first> <count>" (prints
"values" and the store's numbers); it ends when stdin closes."""

import os
import select
import sys
import termios
import threading
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.factory import ServerDecoder
from pymodbus.framer.ascii_framer import ModbusAsciiFramer

SMALL_UNIT = 17  # 200 holding registers: reads past them give exception 2
FULL_UNIT = 1    # the configurator's whole register map

SPEEDS = {getattr(termios, "B%d" % s): s for s in (1200, 2400, 4800, 9600, 19200, 38400, 57600,
                                                   115200)}


def small_store():
    return ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [0] * 24),
        co=ModbusSequentialDataBlock(0, [0] * 16),
        hr=ModbusSequentialDataBlock(0, [0x1000 + i for i in range(200)]),
        ir=ModbusSequentialDataBlock(0, [0x2000 + i for i in range(120)]),
        zero_mode=True)


def full_store():
    return ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(24)]),
        co=ModbusSequentialDataBlock(0, [i % 2 == 1 for i in range(16)]),
        hr=ModbusSequentialDataBlock(0, [(0x4000 + 3 * i) & 0xFFFF for i in range(1680)]),
        ir=ModbusSequentialDataBlock(0, [0x2000 + i for i in range(52)]),
        zero_mode=True)


class Slave:
    def __init__(self, link_path, on_request=None):
        self.master, self.keeper = os.openpty()
        tty.setraw(self.keeper)
        os.symlink(os.ttyname(self.keeper), link_path)
        self.link_path = link_path
        self.store = small_store()
        self.full = full_store()
        self.context = ModbusServerContext(slaves={SMALL_UNIT: self.store, FULL_UNIT: self.full},
                                           single=False)
        self.framer = ModbusAsciiFramer(ServerDecoder())
        self.line_settings = []  # (speed, stop bits) seen at each request
        self.on_request = on_request
        self.muted = False
        self.stop = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def answer(self, request):
        attrs = termios.tcgetattr(self.master)
        settings = (attrs[5], 2 if attrs[2] & termios.CSTOPB else 1)
        if self.muted:
            return
        self.line_settings.append(settings)
        response = request.execute(self.context[request.unit_id])
        response.unit_id = request.unit_id
        response.transaction_id = request.transaction_id
        # Told before the reply leaves, so that the request is on record before the client acts.
        if self.on_request:
            self.on_request(settings)
        os.write(self.master, self.framer.buildPacket(response))

    def serve(self):
        while not self.stop:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            data = os.read(self.master, 1024)
            try:
                self.framer.processIncomingPacket(data, self.answer,
                                                  unit=[SMALL_UNIT, FULL_UNIT], single=False)
            except Exception:  # a frame pymodbus cannot decode: stay silent, as a device would
                self.framer.resetFrame()

    def close(self):
        self.stop = True
        self.thread.join()
        os.unlink(self.link_path)
        os.close(self.keeper)
        os.close(self.master)


def main(link_path):
    lock = threading.Lock()

    def say(text):
        with lock:
            sys.stdout.write(text + "\n")
            sys.stdout.flush()

    slave = Slave(link_path, lambda s: say("request %d %d" % (SPEEDS.get(s[0], 0), s[1])))
    say("ready")
    for line in sys.stdin:
        words = line.split()
        if words == ["mute"]:
            slave.muted = True
        elif words == ["speak"]:
            slave.muted = False
        elif len(words) == 4 and words[0] == "get":
            values = slave.full.getValues(*(int(w) for w in words[1:]))
            say("values " + " ".join(str(int(v)) for v in values))
    slave.close()


if __name__ == "__main__":
    main(sys.argv[1])
