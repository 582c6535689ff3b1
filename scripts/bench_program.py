#!/usr/bin/env python3
"""Whole-program figures, printed as "name: value unit".

Runs the real program under the X server in $DISPLAY against the device
emulator, beside two peers that read the same byte rate from their own
pseudo-terminals: gpsd (fed NMEA) and cat. CPU comes from
/proc/PID/task/*/schedstat (nanoseconds of run time per thread), so a
machine busy with other work slows the run but does not inflate the
figures; every window is repeated and reported as median and spread.
Every step waits for a condition (a window, a counter in the emulator's
stats), with a generous limit only as a safety net.

Usage: bench_program.py BUILD-DIR WORK-DIR
Environment: TAVRIX_BENCH_SECONDS (window length, default 15),
TAVRIX_BENCH_REPEATS (default 2), TAVRIX_SOAK_MINUTES (extra minutes at the
line rate before the last memory reading, default 0), TAVRIX_BENCH_PROGRAM
(another build of the program to measure against the same emulator),
TAVRIX_BENCH_WINDOWS (names of the windows to measure, separated by spaces,
e.g. "scan_both_receivers scan_both_receivers_history_window"; the others are
passed through without measuring; default all)."""
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import time

LINE_RATE = 3840  # bytes a second at 38400 baud, 8N1
SAFETY = 300  # seconds: a limit for conditions, never a pause

build, work = sys.argv[1], sys.argv[2]
window = float(os.environ.get("TAVRIX_BENCH_SECONDS", "15"))
repeats = int(os.environ.get("TAVRIX_BENCH_REPEATS", "2"))
soak_minutes = float(os.environ.get("TAVRIX_SOAK_MINUTES", "0"))
# TAVRIX_BENCH_PERF=DIR records a perf profile of the program into DIR during
# the windows named in TAVRIX_BENCH_PERF_WINDOWS (perf's cost then counts too).
perf_dir = os.environ.get("TAVRIX_BENCH_PERF")
perf_windows = os.environ.get("TAVRIX_BENCH_PERF_WINDOWS", "scan_both_receivers idle_connected").split()
perf_freq = os.environ.get("TAVRIX_BENCH_PERF_FREQ", "997")  # samples a second; more for a program this quiet
# Qt's libraries keep no frame pointers: "dwarf" follows calls into them.
perf_callgraph = os.environ.get("TAVRIX_BENCH_PERF_CALLGRAPH", "fp")
only_windows = set(os.environ.get("TAVRIX_BENCH_WINDOWS", "").split())
tools = os.path.join(build, "tools")
program = os.environ.get("TAVRIX_BENCH_PROGRAM") or os.path.join(build, "src", "app", "tavrix-dl")
port = os.path.join(work, "tavrix-port")
children = []


def say(name, value, unit):
    print(f"{name}: {value} {unit}", flush=True)


def wait_until(what, condition, limit=SAFETY, alive=None):
    deadline = time.monotonic() + limit
    while True:
        result = condition()
        if result:
            return result
        if alive is not None and alive.poll() is not None:
            raise RuntimeError(f"{what}: the program ended (exit {alive.returncode})")
        if time.monotonic() > deadline:
            raise RuntimeError(f"{what}: not within {limit} s")
        time.sleep(0.05)


def start(args, **kw):
    p = subprocess.Popen(args, stdin=kw.pop("stdin", subprocess.DEVNULL), **kw)
    children.append(p)
    return p


def stop(p):
    if p.poll() is None:
        p.terminate()
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


# ---- /proc ------------------------------------------------------------------

def threads(pid):
    """{tid: (name, run-time ns, times scheduled in)} of a live process."""
    out = {}
    base = f"/proc/{pid}/task"
    for tid in os.listdir(base):
        try:
            with open(f"{base}/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"{base}/{tid}/schedstat") as f:
                fields = f.read().split()
            ns, runs = int(fields[0]), int(fields[2])
        except (FileNotFoundError, ProcessLookupError, ValueError, IndexError):
            continue
        out[tid] = (name, ns, runs)
    return out


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_window(pids, seconds):
    """Percent of one core for each process and, per thread name, for each;
    then, per thread name, wake-ups a second (times the thread was scheduled
    in: each costs a context switch, the dearest thing at the line rate)."""
    before = {name: threads(pid) for name, pid in pids.items()}
    t0 = time.monotonic()
    time.sleep(seconds)  # the measured interval itself
    elapsed = time.monotonic() - t0
    after = {name: threads(pid) for name, pid in pids.items()}
    result = {}
    for name in pids:
        per_thread, wakes = {}, {}
        for tid, (comm, ns, runs) in after[name].items():
            _, was_ns, was_runs = before[name].get(tid, (comm, 0, 0))
            per_thread[comm] = per_thread.get(comm, 0) + (ns - was_ns)
            wakes[comm] = wakes.get(comm, 0) + (runs - was_runs)
        total = sum(per_thread.values())
        result[name] = (100.0 * total / 1e9 / elapsed,
                        {comm: 100.0 * ns / 1e9 / elapsed for comm, ns in per_thread.items()},
                        {comm: n / elapsed for comm, n in wakes.items()})
    return result


# ---- the emulator -------------------------------------------------------------

class Emulator:
    def __init__(self, receivers, withhold=False):
        self.stats = os.path.join(work, f"sim-{len(children)}.json")
        args = [f"{tools}/tavrix-sim", "--link", port, "--mode", "scan", "--gps", "on",
                "--receivers", receivers, "--rate", "1000", "--control", "--stats", self.stats]
        if withhold:
            args.append("--withhold-channel-info")
        self.proc = start(args, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                          stderr=open(os.path.join(work, "sim.err"), "a"))
        wait_until("emulator's port", lambda: os.path.exists(port) and self.read())

    def read(self):
        try:
            with open(self.stats) as f:
                return json.load(f)
        except (FileNotFoundError, json.JSONDecodeError):
            return None

    def command(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def bytes_sent(self):
        s = self.read()
        return s["bytes"] if s else 0

    def wait_flowing(self, app):
        """Connected, and the line carrying data after the next stats write."""
        wait_until("program connected", lambda: (self.read() or {}).get("line") == "connected", alive=app)
        b0 = self.bytes_sent()
        wait_until("data flowing", lambda: self.bytes_sent() > b0 + LINE_RATE // 2, alive=app)

    def wait_mode(self, mode, app):
        wait_until(f"mode {mode}", lambda: (self.read() or {}).get("mode") == mode, alive=app)
        b0 = self.bytes_sent()
        wait_until(f"mode {mode} flowing", lambda: self.bytes_sent() > b0 + LINE_RATE // 2, alive=app)

    def quit(self):
        self.command("quit")
        try:
            self.proc.wait(SAFETY)
        except subprocess.TimeoutExpired:
            stop(self.proc)


# ---- X ----------------------------------------------------------------------

def window_id(title):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                       capture_output=True, text=True)
    ids = r.stdout.split()
    return ids[0] if ids else None


def wait_window(title, app):
    return wait_until(f'window "{title}"', lambda: window_id(title), alive=app)


def geometry(wid):
    r = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], capture_output=True, text=True)
    return {k: int(v) for k, v in (line.split("=") for line in r.stdout.split()) if v.lstrip("-").isdigit()}


# ---- the run ------------------------------------------------------------------

def median_spread(values):
    return f"{statistics.median(values):.3f} ({min(values):.3f} to {max(values):.3f})"


def main():
    feeder = start([sys.executable, os.path.join(os.path.dirname(__file__), "lib", "pty_feed.py"),
                    str(LINE_RATE), "2"], stdout=subprocess.PIPE, text=True)
    gps_tty = feeder.stdout.readline().strip()
    cat_tty = feeder.stdout.readline().strip()
    peers = {}
    gpsd = shutil.which("gpsd") or "/usr/sbin/gpsd"
    if os.path.exists(gpsd):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            gpsd_port = s.getsockname()[1]
        peers["gpsd"] = start([gpsd, "-N", "-n", "-b", "-S", str(gpsd_port),
                               "-F", os.path.join(work, "gpsd.sock"), gps_tty],
                              stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "gpsd.err"), "w"))
    else:
        print("gpsd: not installed (Debian package gpsd), measured without it", flush=True)
    peers["cat"] = start(["cat", cat_tty], stdout=subprocess.DEVNULL)

    # The round trip needs a program that never got channel information, so
    # the first emulator withholds it: every scan report is then answered by
    # a channel-information request.
    sim = Emulator("both", withhold=True)
    os.chdir(work)
    t_start = time.monotonic()
    app = start([program, port], stdout=open(os.path.join(work, "program.out"), "w"), stderr=subprocess.STDOUT)
    dialog = wait_window("Select Communications Port", app)
    say("program.start_to_port_dialog", f"{(time.monotonic() - t_start) * 1000:.0f}", "ms")

    pids = {"program": app.pid, **{name: p.pid for name, p in peers.items()}}
    figures = {}  # name -> list of (program %, per-thread, peers %)

    def measure(name):
        if only_windows and name not in only_windows:
            return
        for _ in range(repeats):
            for p in [app, *peers.values()]:
                if p.poll() is not None:
                    raise RuntimeError(f"{name}: a process ended (exit {p.returncode})")
            profiler = None
            if perf_dir and name in perf_windows:
                profiler = subprocess.Popen(["perf", "record", "-q", "-F", perf_freq, "--call-graph", perf_callgraph, "-p", str(app.pid),
                                             "-o", os.path.join(perf_dir, f"perf-{name}.data")],
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            cpu = cpu_window(pids, window)
            if profiler:
                profiler.send_signal(signal.SIGINT)
                profiler.wait()
            figures.setdefault(name, []).append(cpu)

    measure("not_connected_port_dialog")

    subprocess.run(["xdotool", "windowfocus", "--sync", dialog, "key", "Return"], check=True)
    main_window = wait_window("Tavrix Data Logger", app)
    connected_at = time.monotonic()
    sim.wait_flowing(app)
    measure("round_trip_scan_both_withheld")
    trip = (sim.read() or {}).get("roundTripUs")

    sim.quit()
    wait_until("emulator gone", lambda: not os.path.exists(port) or sim.proc.poll() is not None)
    measure("not_connected_link_lost")

    sim = Emulator("1")
    sim.wait_flowing(app)
    sim.command("pause")
    wait_until("stream paused", lambda: (sim.read() or {}).get("stream") == "paused", alive=app)
    b0 = sim.bytes_sent()
    measure("idle_connected")
    idle_bytes = sim.bytes_sent() - b0
    sim.command("resume")
    sim.wait_flowing(app)

    # Logging on: the tool bar's Log Data button, then OK in the warning.
    g = geometry(main_window)
    menu_h = g["HEIGHT"] - 504
    subprocess.run(["xdotool", "mousemove", str(g["X"] + 600), str(g["Y"] + menu_h + 14), "click", "1"], check=True)
    warning = wait_window("TAVRIX LOG FILE WARNING", app)
    w = geometry(warning)
    subprocess.run(["xdotool", "mousemove", str(w["X"] + 253), str(w["Y"] + 388), "click", "1"], check=True)
    wait_until("log file", lambda: any(f.upper().endswith(".KLF") and os.path.getsize(f) > 0
                                       for f in os.listdir(work)), alive=app)

    # A device that falls silent while logging: the log writer has nothing to take.
    sim.command("pause")
    wait_until("stream paused", lambda: (sim.read() or {}).get("stream") == "paused", alive=app)
    measure("idle_connected_logging")
    sim.command("resume")
    sim.wait_flowing(app)

    rss_first_minute = None
    for receivers in ("1", "both"):
        if receivers == "both":
            sim.quit()
            sim = Emulator("both")
            sim.wait_flowing(app)
        for mode in ("single", "scan", "table"):
            sim.command(f"mode {mode}")
            sim.wait_mode(mode, app)
            b0, t0 = sim.bytes_sent(), time.monotonic()
            name = f"{mode}_{'one' if receivers == '1' else 'both'}_receivers"
            measure(name)
            if not only_windows or name in only_windows:
                rate = (sim.bytes_sent() - b0) / (time.monotonic() - t0)
                say(f"program.line_rate.{mode}_{receivers}", f"{rate:.0f}", "B/s")
            if rss_first_minute is None and time.monotonic() - connected_at >= 60:
                rss_first_minute = rss_kb(app.pid)

    # One "Scan History" window open (from the History menu) over the same
    # load: scan mode, both receivers, GPS and logging.
    sim.command("mode scan")
    sim.wait_mode("scan", app)
    # The open menu takes the second key, whichever window X gives it to.
    subprocess.run(["xdotool", "windowfocus", "--sync", main_window, "key", "alt+h", "1"], check=True)
    wait_window("Scan History - R1", app)
    measure("scan_both_receivers_history_window")

    if soak_minutes > 0:
        soak_end = time.monotonic() + soak_minutes * 60
        wait_until("soak", lambda: time.monotonic() >= soak_end or app.poll() is not None,
                   limit=soak_minutes * 60 + SAFETY)
    rss_end = rss_kb(app.pid)
    run_minutes = (time.monotonic() - connected_at) / 60

    # ---- report ---------------------------------------------------------------
    for name, runs in figures.items():
        prog = [r["program"][0] for r in runs]
        say(f"program.cpu.{name}", median_spread(prog), "% of a core")
        names = sorted({t for r in runs for t in r["program"][1]})
        for t in names:
            values = [r["program"][1].get(t, 0.0) for r in runs]
            if max(values) >= 0.005:
                say(f"program.cpu.{name}.thread.{t}", median_spread(values), "% of a core")
        for t in names:
            values = [r["program"][2].get(t, 0.0) for r in runs]
            if max(values) >= 1.0:
                say(f"program.wakeups.{name}.thread.{t}", f"{statistics.median(values):.0f}", "/s")
        say(f"program.wakeups.{name}", f"{statistics.median(sum(r['program'][2].values()) for r in runs):.0f}", "/s")
        for peer in peers:
            values = [r[peer][0] for r in runs]
            say(f"{peer}.cpu.{name}", median_spread(values), "% of a core")
            say(f"{peer}.wakeups.{name}", f"{statistics.median(sum(r[peer][2].values()) for r in runs):.0f}", "/s")
            med = statistics.median(values)
            if med > 0 and "connected" not in name:
                say(f"program.cpu.{name}.ratio_to_{peer}", f"{statistics.median(prog) / med:.2f}", "x")
    say("program.idle_connected_bytes_in", idle_bytes, "B")
    if trip:
        say("program.request_round_trip_median", f"{trip['median']:.0f}", "us")
        say("program.request_round_trip_p99", f"{trip['p99']:.0f}", "us")
        say("program.request_round_trip_count", trip["count"], "requests")
    if rss_first_minute:
        say("program.resident_memory_first_minute", f"{rss_first_minute / 1024:.1f}", "MB")
    say("program.resident_memory_end", f"{rss_end / 1024:.1f}", "MB")
    say("program.run_minutes", f"{run_minutes:.1f}", "min")



def on_signal(signum, _frame):
    raise SystemExit(128 + signum)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        main()
    except RuntimeError as e:
        print(f"program: failed: {e}", flush=True)
        try:
            with open(os.path.join(work, "program.out")) as f:
                print("".join(f.readlines()[-10:]), end="", flush=True)
        except FileNotFoundError:
            pass
        sys.exit(1)
    finally:
        for p in reversed(children):
            stop(p)
