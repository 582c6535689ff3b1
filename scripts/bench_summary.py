#!/usr/bin/env python3
"""Picks the headline figures out of the 'name: value unit' lines of
scripts/bench.sh and prints them as one table."""
import re
import sys

ROWS = [
    ("framer throughput (bulk feed)", r"^BM_FramerThroughput\.throughput$"),
    ("framer, times the 3840 B/s line rate", r"^BM_FramerThroughput\.line_rate$"),
    ("framer throughput (byte by byte)", r"^BM_FramerThroughputByteWise\.throughput$"),
    ("link latency, median", r"^BM_LinkLatency.*\.latency_median$"),
    ("link latency, 99th percentile", r"^BM_LinkLatency.*\.latency_p99$"),
    ("link thread CPU while idle", r"^BM_LinkIdleCpu.*\.idle_cpu$"),
    ("UpdateDisplay, table mode, 684 x 453", r"^BM_UpdateDisplayTable/width:684/height:453/strong:0$"),
    ("UpdateDisplay, table mode, 1920 x 1080", r"^BM_UpdateDisplayTable/width:1920/height:1080/strong:0$"),
    ("table ranking", r"^BM_TableRanking/rising:0$"),
    ("records written per second, flushed each", r"^BM_SustainedRecords/80/real_time\.rate$"),
    ("whole program idle, connected", r"^program\.cpu_idle_connected$"),
    ("whole program at the line rate", r"^program\.cpu_at_line_rate$"),
    ("resident memory", r"^program\.resident_memory$"),
    ("klf-export, 100 MB log to CSV", r"^BM_ExportCsv100MB.*manual_time$"),
    ("klf-export, 100 MB log to CSV, CPU", r"^BM_ExportCsv100MB.*\.cpu$"),
    ("klf-export, peak resident memory", r"^BM_ExportCsv100MB.*\.resident$"),
    ("start to port dialog", r"^program\.start_to_port_dialog$"),
]


def main():
    figures = {}
    for line in open(sys.argv[1]):
        name, sep, value = line.partition(": ")
        if sep:
            figures[name.strip()] = value.strip().replace(" per iteration", "")
    width = max(len(label) for label, _ in ROWS)
    print("\nPerformance summary")
    print(f"  {'figure':{width}s}  value")
    for label, pattern in ROWS:
        value = next((v for n, v in figures.items() if re.search(pattern, n)), "not measured")
        print(f"  {label:{width}s}  {value}")


if __name__ == "__main__":
    main()
