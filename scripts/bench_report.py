#!/usr/bin/env python3
"""Prints Google Benchmark JSON results as 'name: value unit' lines."""
import json
import sys


def scaled_time(ns):
    for unit, factor in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= factor:
            return ns / factor, unit
    return ns, "ns"


SKIP = {"name", "run_name", "run_type", "repetitions", "repetition_index", "threads",
        "iterations", "real_time", "cpu_time", "time_unit", "family_index",
        "per_family_instance_index", "aggregate_name", "aggregate_unit", "label", "error_occurred",
        "error_message"}
TO_NS = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}


def main():
    for path in sys.argv[1:]:
        with open(path) as f:
            data = json.load(f)
        for b in data.get("benchmarks", []):
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            name = b["name"]
            if b.get("error_occurred"):
                print(f"{name}: error {b.get('error_message', '')}")
                continue
            t, unit = scaled_time(b["real_time"] * TO_NS[b.get("time_unit", "ns")])
            print(f"{name}: {t:.3g} {unit} per iteration")
            if "bytes_per_second" in b:
                print(f"{name}.throughput: {b['bytes_per_second'] / 1e6:.1f} MB/s")
            if "items_per_second" in b:
                print(f"{name}.rate: {b['items_per_second']:.0f} items/s")
            for key, value in b.items():
                if key in SKIP or key in ("bytes_per_second", "items_per_second") or not isinstance(value, (int, float)):
                    continue
                # Counters named like "latency_median_us" carry their unit last.
                parts = key.rsplit("_", 1)
                if len(parts) == 2 and parts[1] in ("us", "ms", "ns", "s", "pct", "MBps", "ratio", "kB", "MB", "per_s"):
                    unit = {"pct": "%", "MBps": "MB/s", "per_s": "/s"}.get(parts[1], parts[1])
                    print(f"{name}.{parts[0]}: {value:.4g} {unit}")
                else:
                    print(f"{name}.{key}: {value:.4g}")


if __name__ == "__main__":
    main()
