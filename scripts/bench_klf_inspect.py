#!/usr/bin/env python3
"""klf-inspect on 200 MB of small records: wall time and peak resident memory,
printed as 'name: value unit'. Usage: bench_klf_inspect.py KLF-INSPECT"""
import os
import subprocess
import sys
import tempfile
import time

SIZE = 200 * 1000 * 1000


def record(seq):
    """A 17-byte record: L = 15, type 7, 13 payload bytes, XOR checksum."""
    payload = seq.to_bytes(4, "little") + bytes([0x5A] * 9)
    body = bytes([7]) + payload
    check = 0
    for b in body:
        check ^= b
    return (len(body) + 1).to_bytes(2, "little") + body + bytes([check])


def header():
    ident = bytes([0x80]) + b"ZKTTAVRIX0401"
    check = 0
    for b in ident:
        check ^= b
    serial = bytes([0x81]) + b"BENCH001" + bytes([0])
    scheck = 0
    for b in serial:
        scheck ^= b
    config = bytes([25, 0, 1]) + bytes(24)
    return bytes(6) + bytes([15, 0]) + ident + bytes([check]) + bytes([11, 0]) + serial + bytes([scheck]) + config


def main():
    tool = sys.argv[1]
    block = b"".join(record(i) for i in range(60000))
    with tempfile.NamedTemporaryFile(suffix=".KLF", delete=False) as f:
        path = f.name
        f.write(header())
        written = 0
        while written < SIZE:
            f.write(block)
            written += len(block)
    try:
        # GNU time reports its child's peak; a child of this script would
        # count this script's own memory as its own.
        start = time.monotonic()
        run = subprocess.run(["/usr/bin/time", "-f", "%M", tool, path], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, check=False)
        seconds = time.monotonic() - start
        if run.returncode != 0:
            print("klf_inspect_200MB: failed (exit %d)" % run.returncode)
            return 1
        peak_kb = int(run.stderr.split()[-1])
        print("klf_inspect_200MB_time: %.2f s" % seconds)
        print("klf_inspect_200MB_peak_rss: %.1f MB" % (peak_kb / 1024.0))
    finally:
        os.unlink(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
