#!/usr/bin/env python3
"""Plays a GPS receiver on pseudo-terminals for the whole-program bench:
writes NMEA sentences to each at the given byte rate, in 16-byte pieces as
a UART driver hands them over. Prints each slave's path, one a line, then
runs until killed. Usage: pty_feed.py BYTES-PER-SECOND COUNT"""
import os
import sys
import time
import tty

CHUNK = 16


def sentence(body):
    checksum = 0
    for c in body.encode():
        checksum ^= c
    return f"${body}*{checksum:02X}\r\n"


def nmea_second(second):
    hh, mm, ss = (second // 3600) % 24, (second // 60) % 60, second % 60
    t = f"{hh:02d}{mm:02d}{ss:02d}.00"
    lat = f"4807.{second % 1000:03d}"
    out = [
        sentence(f"GPGGA,{t},{lat},N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"),
        sentence(f"GPRMC,{t},A,{lat},N,01131.000,E,022.4,084.4,230394,003.1,W"),
        sentence("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1"),
    ]
    for part in range(1, 4):
        sats = ",".join(f"{(part - 1) * 4 + k + 1:02d},40,083,46" for k in range(4))
        out.append(sentence(f"GPGSV,3,{part},11,{sats}"))
    return "".join(out).encode()


def main():
    rate = float(sys.argv[1])
    count = int(sys.argv[2])
    masters, slaves = [], []
    for _ in range(count):
        master, slave = os.openpty()
        tty.setraw(slave)
        os.set_blocking(master, False)
        masters.append(master)
        slaves.append(slave)  # kept open: the line never hangs up between readers
        print(os.ttyname(slave), flush=True)

    stream = b"".join(nmea_second(s) for s in range(3600))
    at = 0
    period = CHUNK / rate
    due = time.monotonic()
    while True:
        piece = stream[at:at + CHUNK]
        at = (at + CHUNK) % (len(stream) - CHUNK)
        for master in masters:
            try:
                os.write(master, piece)
            except BlockingIOError:
                pass  # nobody reads: the line drops it, as a UART would
        due += period
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        elif delay < -1.0:
            due = time.monotonic()  # fell far behind (machine busy): no burst to catch up


if __name__ == "__main__":
    main()
