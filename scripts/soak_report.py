#!/usr/bin/env python3
"""Helpers of scripts/soak.sh.

  soak_report.py watch STATS OUT.jsonl   keep every distinct emulator stats
                                         snapshot, time-stamped, until killed
  soak_report.py report RUN-DIR          print the soak figures; exit 1 when a
                                         hard check failed
"""
import json
import os
import re
import signal
import sys
import time

TYPES = {"GpsMessage": 0, "ReceiverSetup": 1, "SingleBlockR1": 2, "SingleBlockR2": 3, "ClockMarker": 4,
         "CurrentFrequency": 5, "ScanChannelList": 6, "ScanReport": 7, "TableReport": 9, "SerialNumber": 28}
NAMES = {v: k for k, v in TYPES.items()}


def type_code(name):
    if name in TYPES:
        return TYPES[name]
    m = re.fullmatch(r"Type(\d+)", name)
    return int(m.group(1)) if m else None


def by_code(sent):
    out = {}
    for name, n in sent.items():
        code = type_code(name)
        if code is not None:
            out[code] = out.get(code, 0) + n
    return out


def minus(a, b):
    return {k: a.get(k, 0) - b.get(k, 0) for k in set(a) | set(b)}


def name_of(code):
    return NAMES.get(code, f"Type{code}")


# --- watch ----------------------------------------------------------------------

def watch(stats_path, out_path):
    # The emulator rewrites its stats once a second by rename; while its line
    # is down ("waiting") the sent counts are exactly those up to the unplug,
    # which is what the loss analysis needs.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    last = None
    with open(out_path, "a") as out:
        while True:
            try:
                with open(stats_path) as f:
                    text = f.read()
            except OSError:
                text = None
            if text and text != last:
                try:
                    s = json.loads(text)
                except ValueError:
                    s = None
                if s is not None:
                    last = text
                    keep = {k: s.get(k) for k in ("sent", "line", "stream", "plugs", "connects",
                                                   "droppedFrames", "faultFrames", "requests")}
                    keep["t"] = time.time()
                    out.write(json.dumps(keep) + "\n")
                    out.flush()
            time.sleep(0.2)


# --- report ---------------------------------------------------------------------

def load_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def read_env(path):
    env = {}
    with open(path) as f:
        for line in f:
            if "=" in line:
                k, v = line.rstrip("\n").split("=", 1)
                env[k] = v
    return env


def read_dump(path):
    """Record types of the log in file order (the header's channel information left out)."""
    types = []
    try:
        with open(path) as f:
            for line in f:
                m = re.match(r"\s*\d+\s+L=\s*\d+\s+type=(\d+)\s+(\S*)", line)
                if m and "[channel information]" not in line:
                    types.append(int(m.group(1)))
    except OSError:
        pass
    return types


class LogPrefix:
    """Cumulative counts by type of every prefix of the log."""

    def __init__(self, types):
        self.codes = sorted(set(types))
        self.cum = {c: [0] for c in self.codes}
        for t in types:
            for c in self.codes:
                self.cum[c].append(self.cum[c][-1] + (t == c))
        self.n = len(types)

    def nearest(self, expected):
        """The prefix closest to the expected counts: (distance, end, types short).

        Frames leave the emulator in the order they reach the log, so without
        losses some prefix matches every snapshot of its counts exactly. The
        distance is at least the difference in record counts, so the search
        only needs a window around the expected total."""
        total = sum(expected.values())
        best = None
        for end in range(max(0, total - 80), min(self.n, total + 80) + 1):
            d = sum(abs(self.cum[c][end] - expected.get(c, 0)) for c in self.codes)
            d += sum(v for c, v in expected.items() if c not in self.cum)
            if best is None or d < best[0]:
                best = (d, end)
        if best is None:
            return total, 0, {}
        d, end = best
        short = {c: v - (self.cum[c][end] if c in self.cum else 0) for c, v in expected.items()}
        return d, end, {c: v for c, v in short.items() if v > 0}


def unplug_times(trail, t_from, t_to):
    times, prev = [], None
    for s in trail:
        if s["line"] == "waiting" and prev == "connected" and t_from < s["t"] < t_to:
            times.append(s["t"])
        prev = s["line"]
    return times


def report(run):
    env = read_env(f"{run}/soak.env")
    failures = []
    print("\nSoak figures")
    minutes = float(env.get("minutes", "0"))
    print(f"  run: {minutes:g} min of logging, emulator: {env.get('sim_args', '?')}")

    # Crashes and exit.
    died = env.get("died_during_run") == "1"
    status = env.get("exit_status", "?")
    exit_s = env.get("exit_seconds", "?")
    print(f"  crashes: {'the program DIED during the run, status ' + status if died else 'none'}")
    if died:
        failures.append("the program died during the run")
    else:
        ok_exit = env.get("exited_in_time") == "1" and status == "0"
        print(f"  File > Exit: {'exited' if env.get('exited_in_time') == '1' else 'DID NOT EXIT'} "
              f"after {exit_s} s, status {status}" + ("" if ok_exit else "   <-- FAILED"))
        if not ok_exit:
            failures.append("File > Exit did not end the program within 5 s with status 0")

    # Packets sent while logging against packets logged.
    before = load_json(f"{run}/sim-before.json")
    after = load_json(f"{run}/sim-after.json")
    final = load_json(f"{run}/sim-final.json") or load_json(f"{run}/sim.json")
    klf = load_json(f"{run}/klf.json") or {}
    types = read_dump(f"{run}/klf-dump.txt")
    trail = []
    try:
        with open(f"{run}/stats-trail.jsonl") as f:
            trail = [json.loads(line) for line in f if line.strip()]
    except OSError:
        pass

    lost_total = 0
    if before and after:
        sent = minus(by_code(after["sent"]), by_code(before["sent"]))
        logged = {int(k): v for k, v in klf.get("byType", {}).items()}
        print("  packets sent while logging (emulator) against packets logged (klf-inspect):")
        for code in sorted(set(sent) | set(logged)):
            s, g = sent.get(code, 0), logged.get(code, 0)
            if s or g:
                mark = "" if s == g else f"   <-- {s - g:+d} missing" if s > g else f"   <-- {g - s} extra"
                print(f"    {name_of(code):17s} (type {code:2d}): sent {s:7d}   logged {g:7d}{mark}")
        total_sent, total_logged = sum(sent.values()), sum(logged.values())
        lost_total = total_sent - total_logged
        print(f"    {'all':17s}          : sent {total_sent:7d}   logged {total_logged:7d}")
        extra = {c: logged.get(c, 0) - sent.get(c, 0) for c in set(sent) | set(logged)
                 if logged.get(c, 0) > sent.get(c, 0)}
        if extra:
            failures.append("the log holds packets the emulator did not send: "
                            + ", ".join(f"{name_of(c)} {n}" for c, n in extra.items()))
        kstatus = klf.get("status", "?")
        truncated = klf.get("truncatedAt")
        print(f"  log: {klf.get('records', '?')} records, {klf.get('endOfRecords', '?')} bytes, status {kstatus}, "
              f"truncated at {truncated}, checksum errors {klf.get('checksumErrors', '?')}, header {klf.get('header')}, "
              f"serial number {klf.get('serialNumber')!r}, channel information {klf.get('channelInfo')}")
        if kstatus not in ("ok", "truncated"):
            failures.append(f"klf-inspect reports {kstatus}: {klf.get('error')}")
        if klf.get("checksumErrors"):
            failures.append(f"{klf['checksumErrors']} records with bad checksums in the log")

        # Where are the missing packets? Every once-a-second snapshot of the
        # emulator's counts must match some prefix of the log; the first
        # snapshot that cannot tells when a packet went, within a second.
        t_on, t_off = float(env.get("t_logging_on", 0)), float(env.get("t_logging_off", 0))
        unplugs = unplug_times(trail, t_on, t_off)
        print(f"  unplugs while logging: {len(unplugs)}, at "
              + ", ".join(f"{u - t_on:.0f}" for u in unplugs) + " s")
        if lost_total > 0 and types:
            prefix = LogPrefix(types)
            base = by_code(before["sent"])
            high, away = 0, 0
            print("  where the missing packets went (snapshots whose counts no prefix of the log reaches):")
            for s in trail:
                if not t_on < s["t"] < t_off + 1:
                    continue
                d, end, short = prefix.nearest(minus(by_code(s["sent"]), base))
                if d <= high:
                    continue
                # A lost frame hides while a frame of its type follows the
                # snapshot's boundary, so a loss can show a few seconds late.
                since = [(s["t"] - u, k) for k, u in enumerate(unplugs, 1) if -0.5 < s["t"] - u < 10]
                if since:
                    where = f"{since[-1][0]:.1f} s after unplug {since[-1][1]}"
                elif s.get("stream") == "paused":
                    where = "shown only by the final count"
                else:
                    where = "away from any unplug"
                away += not since
                around = " ".join(map(str, types[max(0, end - 5):end])) + " | " + " ".join(map(str, types[end:end + 5]))
                print(f"    at {s['t'] - t_on:7.1f} s (line {s['line']}): shortfall {high} -> {d}, short of "
                      + ", ".join(f"{name_of(c)} {n}" for c, n in short.items())
                      + f"; {where}; log types around the best match: {around}")
                high = d
            if away == 0 and high == lost_total:
                print("    every missing packet went at an unplug: frames the emulator had written into the "
                      "pseudo-terminal that the program had not read yet when the line was closed")
            else:
                failures.append("packets went missing away from the unplugs")
        elif lost_total > 0:
            failures.append("packets missing and no log dump to place them")
        if lost_total > 3 * max(1, len(unplugs)):
            failures.append(f"{lost_total} packets missing, more than a few per unplug")
    else:
        failures.append("no emulator counts around the logging run")
        print("  packets: no emulator snapshots around the logging run")

    # Map points.
    serial = env.get("serial", "")
    all_points = []
    try:
        with open(f"{run}/map-points.jsonl") as f:
            all_points = [json.loads(line) for line in f if line.strip()]
    except (OSError, ValueError):
        pass
    points = [p for p in all_points if not serial or p.get("serial") == serial]
    gps_sent = by_code(final["sent"]).get(0, 0) if final else 0
    torn = sum(1 for p in points if not p.get("whole", True))
    # The block is machine-wide: another logger running meanwhile (a test, a
    # colleague's session) writes it too and shows as a jump of the sequence
    # counter, which moves by 2 per write.
    writes = ""
    if len(points) >= 2:
        seqs = [p["sequence"] for p in points]
        foreign = sum((b - a) // 2 - 1 for a, b in zip(seqs, seqs[1:]) if b - a > 2)
        writes = f", writes by other loggers between ours {foreign}"
    others = sum(1 for p in all_points if p.get("serial") != serial)
    if others:
        writes += f", points of other loggers seen and left out {others}"
    print(f"  map points seen {len(points)} against GPS messages sent {gps_sent} in the whole session"
          f" (difference {gps_sent - len(points)}){writes}, torn {torn}")
    if torn:
        failures.append(f"{torn} torn map points")

    # Memory and CPU.
    rows = []
    try:
        with open(f"{run}/samples.csv") as f:
            head = f.readline().strip().split(",")
            rows = [dict(zip(head, line.strip().split(","))) for line in f if line.strip()]
    except OSError:
        pass
    start = next((r for r in rows if r["label"] == "start"), None)
    end = next((r for r in rows if r["label"] == "end"), None)
    tck = float(env.get("clk_tck", "100"))
    if start and end:
        rs, re_ = int(start["rss_kb"]), int(end["rss_kb"])
        growth = re_ - rs
        wall = float(end["t"]) - float(start["t"])
        cpu = (int(end["cpu_ticks"]) - int(start["cpu_ticks"])) / tck
        peak = max(int(r["rss_kb"]) for r in rows)
        print(f"  memory (VmRSS): start {rs} kB, end {re_} kB, growth {growth:+d} kB "
              f"({'under' if growth < 1024 else 'NOT under'} the 1 MB target), peak {peak} kB")
        # The start sample comes before logging is switched on; the first
        # minute's sample shows what the log writer itself took.
        mids = [r for r in rows if r["label"] == "minute"]
        logged_on = next((r for r in rows if r["label"] == "logging"), None)
        for label, row in (("from logging on", logged_on),
                           ("from the first minute", mids[0] if mids else None),
                           ("second half", mids[len(mids) // 2] if len(mids) >= 4 else None)):
            if row:
                print(f"    {label}: {row['rss_kb']} kB at {float(row['t']) - float(start['t']):.0f} s "
                      f"to {re_} kB at the end ({re_ - int(row['rss_kb']):+d} kB)")
        seq = [start] + mids + [end]
        shares = [100 * (int(b["cpu_ticks"]) - int(a["cpu_ticks"])) / tck / (float(b["t"]) - float(a["t"]))
                  for a, b in zip(seq, seq[1:]) if float(b["t"]) - float(a["t"]) > 20]
        print(f"    threads {start['threads']} -> {end['threads']}, open descriptors {start['fds']} -> {end['fds']}")
        print(f"  CPU: {cpu:.1f} s over {wall:.0f} s = {100 * cpu / wall:.2f} % of one core"
              + (f" (per minute {min(shares):.1f} to {max(shares):.1f} %)" if shares else ""))
        logging = next((r for r in rows if r["label"] == "logging"), mids[0] if mids else None)
        steady = re_ - int(logging["rss_kb"]) if logging else growth
        if steady >= 1024:
            failures.append(f"memory grew by {steady} kB after logging started")
        elif growth >= 1024:
            print(f"    the growth over 1 MB is the start of logging (log writer thread, its heap and file), "
                  f"not a climb: {steady:+d} kB from then on")
        if int(end["fds"]) > int(start["fds"]):
            failures.append("open descriptors grew over the run")
    else:
        print("  memory and CPU: no start and end samples")
        failures.append("no start and end samples")

    # Link recoveries.
    if final:
        plugs, connects = final.get("plugs", 0), final.get("connects", 0)
        cycles = plugs - 1
        print(f"  unplug/replug cycles: {cycles}; the program connected {connects} times "
              f"(once at start, then once per replug: {'recovered every time' if connects == plugs else 'NOT every time'})")
        downs = []
        down_at = None
        up_once = False  # the line waits for the program before its first connect too
        for s in trail:
            up_once |= s["line"] == "connected"
            if s["line"] == "waiting" and down_at is None and up_once:
                down_at = s["t"]
            elif s["line"] == "connected" and down_at is not None:
                downs.append(s["t"] - down_at)
                down_at = None
        if downs:
            print(f"    line down per unplug, as seen in the once-a-second stats: "
                  + ", ".join(f"{d:.0f}" for d in downs) + " s")
        if connects != plugs:
            failures.append("the link did not come back after every unplug")
        print(f"  emulator totals: frames {final.get('framesSent')}, fault frames {final.get('faultFrames')}, "
              f"noise bytes {final.get('noiseBytes')}, frames dropped while unplugged {final.get('droppedFrames')}, "
              f"requests {json.dumps(final.get('requests'))}")

    print("  result: " + ("PASS" if not failures else "FAIL: " + "; ".join(failures)))
    return 0 if not failures else 1


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "watch":
        watch(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "report":
        sys.exit(report(sys.argv[2]))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
