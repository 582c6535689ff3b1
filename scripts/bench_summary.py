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
    ("reports out of 50 behind AA D0 07", r"^BM_CorruptLengthRecovery/0/.*\.recovered_frames$"),
    ("  the last one after the last byte, median", r"^BM_CorruptLengthRecovery/0/.*\.recovery_median$"),
    ("reports out of 50 behind AA D0 07 02 (quiet line)", r"^BM_CorruptLengthRecovery/1/.*\.recovered_frames$"),
    ("  the last one after the last byte, median", r"^BM_CorruptLengthRecovery/1/.*\.recovery_median$"),
    ("UpdateDisplay, table mode, 684 x 453", r"^BM_UpdateDisplayTable/width:684/height:453/strong:0$"),
    ("UpdateDisplay, table mode, 1920 x 1080", r"^BM_UpdateDisplayTable/width:1920/height:1080/strong:0$"),
    ("table ranking", r"^BM_TableRanking/rising:0$"),
    ("log records written per second", r"^BM_SustainedRecords/80/real_time\.rate$"),
    ("bare reader's wake-up on a pty (floor), median", r"^BM_PtyReaderWakeFloor.*\.latency_median$"),
    ("link round trip, frame to 5-byte command, median", r"^BM_LinkRoundTrip.*\.latency_median$"),
    ("bare echo on a pty (floor), median", r"^BM_PtyEchoFloor.*\.latency_median$"),
    ("whole program, request round trip, median", r"^program\.request_round_trip_median$"),
    ("whole program, request round trip, p99", r"^program\.request_round_trip_p99$"),
    ("whole program, port dialog open", r"^program\.cpu\.not_connected_port_dialog$"),
    ("whole program, \"Link Lost!!\" retrying", r"^program\.cpu\.not_connected_link_lost$"),
    ("whole program idle, connected", r"^program\.cpu\.idle_connected$"),
    ("whole program idle, connected, logging", r"^program\.cpu\.idle_connected_logging$"),
    ("whole program, single, one receiver, logging", r"^program\.cpu\.single_one_receivers$"),
    ("whole program, scan, one receiver, logging", r"^program\.cpu\.scan_one_receivers$"),
    ("whole program, table, one receiver, logging", r"^program\.cpu\.table_one_receivers$"),
    ("whole program, single, both receivers, logging", r"^program\.cpu\.single_both_receivers$"),
    ("whole program, scan, both receivers, logging", r"^program\.cpu\.scan_both_receivers$"),
    ("whole program, table, both receivers, logging", r"^program\.cpu\.table_both_receivers$"),
    ("whole program, scan, both receivers, logging, Scan History open", r"^program\.cpu\.scan_both_receivers_history_window$"),
    ("link thread, scan, both receivers", r"^program\.cpu\.scan_both_receivers\.thread\.TCom_Router$"),
    ("gpsd at the same byte rate", r"^gpsd\.cpu\.scan_both_receivers$"),
    ("cat at the same byte rate", r"^cat\.cpu\.scan_both_receivers$"),
    ("resident memory after the first minute", r"^program\.resident_memory_first_minute$"),
    ("resident memory at the end", r"^program\.resident_memory_end$"),
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
