"""A second client of the demo server: pyserial's own RFC 2217 client talks
to `tarnterm --demo --serve 0` as it would to any port server, and checks the
instrument's answer, a line setting, and DSR following DTR through the
server. Exits 0 when all hold, otherwise 1 with what did not.

usage: demo_serve_peer.py TARNTERM [EMULATOR...]
"""
import re
import subprocess
import sys
import time

import serial

LIMIT = 60  # seconds for anything that should take a moment


def wait_for(predicate):
    end = time.monotonic() + LIMIT
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def main():
    command = sys.argv[2:] + [sys.argv[1], "--demo", "--serve", "0"]
    server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
    try:
        line = server.stdout.readline()
        found = re.search(r"(rfc2217://[0-9.]+:[0-9]+)", line)
        if not found:
            print("the server did not say where it serves: %r" % line)
            return 1
        port = serial.serial_for_url(found.group(1), baudrate=9600, timeout=LIMIT)
        try:
            port.baudrate = 57600
            port.write(b"*IDN?\r")
            answer = port.read_until(b"\n")
            if not answer.startswith(b"Tarnwerk,TT-100"):
                print("*IDN? was answered with %r" % answer)
                return 1
            port.dtr = False
            if not wait_for(lambda: not port.dsr):
                print("DSR stayed on after DTR went off")
                return 1
            port.dtr = True
            if not wait_for(lambda: port.dsr):
                print("DSR stayed off after DTR went on")
                return 1
        finally:
            port.close()
        print("pyserial talked to the demo server")
        return 0
    finally:
        server.terminate()
        server.wait(LIMIT)


if __name__ == "__main__":
    sys.exit(main())
