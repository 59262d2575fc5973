#!/usr/bin/env python3
"""Days without a restart, in an hour: the real Corvamon.exe under Wine, fed 20 status frames a
second by upssim for --minutes (30 by default), with a seeded random schedule of what a
protected PC lives through, and what the monitor holds measured every minute.

Needs the build (scripts/build: dist/x86_64/Corvamon.exe, dist/linux/upssim, and in
build/x86_64 the probe and bench/soak_counts.exe). From the source folder:

    python3 bench/run_soak.py --minutes 3                # a short look
    python3 bench/run_soak.py                            # 30 minutes
    nohup python3 bench/run_soak.py --minutes 65 > /work/soak/soak.out 2>&1 &

The schedule (--seed picks it; the same seed gives the same schedule):
- a power failure and its return every 20 s on average (the failure lasting 2 to 8 s);
- now and then Bitacora.txt held locked for 3 to 6 s by another program, also across events;
- line noise (garbage bytes before each frame of a second) and cut frames (a frame's first bytes,
  then the next frame whole);
- an Explorer restart: the "TaskbarCreated" broadcast;
- a NUT client that connects, reads and leaves (upsc), and one that logged in at the start and
  stays, asking now and then ([Red] Servidor=1 on a free port).

No shutdown may be decided during the run, whatever the schedule does: the charge threshold is
off (ApagaPorcentaje=0), the battery-time countdown is 32767 s (ApagaMinutos=1, so it counts and
shows during each failure), the UPS is never told to switch off (ApagaTNX=0), the USB rule is off,
and no frame says "shutting down" or "overload".

Every minute: from Linux, through /proc of Corvamon's wine process, its open file descriptors,
its private memory (Private_Clean + Private_Dirty of smaps_rollup) and its CPU time; from inside
Wine, through soak_counts.exe, its handle count and private bytes where Wine answers them, its
GDI objects (counted in its GDI handle table, since GetGuiResources answers 0 under Wine) and
its USER objects (the windows it owns). At the end each figure's first and last value and its
growth per hour (least-squares slope after the first 5 minutes), then the checks: every failure
and return sent is in Bitacora.txt exactly once and in order, and, when the program writes
Historial.csv, one minute row for each minute that had frames.

The prefix is made and ended as in bench/run_failure_latency.py (build/bench; --reuse-prefix to
use one that runs). Only the standard library is used.
"""

import os
import queue
import random
import re
import socket
import subprocess
import sys
import threading
import time

from run_failure_latency import Session, arguments, harness, run_main
from run_monitor_cpu import TICK

FRAME_INTERVAL_MS = 50  # 20 frames a second
LINE = "volt=14400 period=16667 battery=200 line=0 mode=0"
BATTERY = "volt=0 period=16667 battery=190 line=1 mode=1"
CUT_FRAME = "bytes 26 26 26 38 78 C8"  # a line-power frame's first six bytes, the rest lost
WARM_UP_MINUTES = 5
USER, PASSWORD = "seguidor", "clave-del-soak"

FAILURE_HEADER = "Corte de energía "
RETURN_HEADER = "Retorno de energía "
ENTRY_HEADERS = ("Inicio de Monitoreo KRD ", FAILURE_HEADER, RETURN_HEADER, "Cierre Forzado ")
STAMP = re.compile(r"(\d\d)/(\d\d)/(\d{4})  (\d\d):(\d\d):(\d\d)$")


def soak_ini(port):
    return {
        "Inicio": {"DataString": "&&&10"},
        "Prefs": {"Bitacora": "1", "NotifAviso": "1", "NotifMaximiza": "1", "CierraconX": "1",
                  "MostrarMute": "1", "MostrarTest": "1", "Historial": "1"},
        "Apaga": {"ApagaPorcentaje": "0", "ApagaQuePorcentaje": "20", "ApagaMinutos": "1",
                  "ApagaCuantosMinutos": "32767", "ApagaTNX": "0", "ApagaDesconexion": "0"},
        "Red": {"Servidor": "1", "Puerto": str(port), "Usuario": USER, "Clave": PASSWORD},
    }


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------- frames


class Feeder:
    """Sends a second of frames at a time to upssim from a thread of its own, in the state the
    schedule sets (line power or battery), with the extras asked for (noise, a cut frame) in the
    next second. It follows upssim's log to know which command upssim is playing, and sends the
    next second only when upssim is near the end of what it has, so nothing piles up."""

    def __init__(self, sim):
        self.sim = sim
        self.on_battery = False
        self.extras = queue.Queue()
        self.lock = threading.Lock()
        self.sent_lines = 0
        self.started_line = 0
        self.log_offset = 0
        self.frame_minutes = set()  # local "YYYY-MM-DDTHH:MM" of the minutes frames went out
        self.frames = 0
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self.thread.start()

    def set_battery(self, on_battery):
        with self.lock:
            self.on_battery = on_battery

    def _send(self, line):
        self.sim.send(line)
        self.sent_lines += 1

    def _follow_log(self):
        with open(self.sim.log, "rb") as f:
            f.seek(self.log_offset)
            data = f.read()
        end = data.rfind(b"\n")
        if end < 0:
            return
        self.log_offset += end + 1
        for raw in data[:end].split(b"\n"):
            line = raw.decode("utf-8", "replace")
            if line.startswith("STEP "):
                m = re.match(r"STEP \d+ line (\d+):", line)
                if m:
                    self.started_line = max(self.started_line, int(m.group(1)))
            elif line.startswith("TX "):
                m = re.search(r"^TX \d+ (?:[0-9A-F]{2} )*?26 26 26 (?:[0-9A-F]{2} ){6}[0-9A-F]{2} @(\S{16})",
                              line)
                if m:
                    self.frames += 1
                    self.frame_minutes.add(m.group(1))

    def _run(self):
        self._send(f"every {FRAME_INTERVAL_MS}")
        while not self.stopping.is_set():
            self._follow_log()
            # One second's frames are a single command: send the next once upssim plays the last.
            if self.sent_lines - self.started_line <= 0:
                noise = 0
                while not self.extras.empty():
                    extra = self.extras.get_nowait()
                    if extra == "cut":
                        self._send(CUT_FRAME)
                    elif extra.startswith("noise="):
                        noise = int(extra[6:])
                with self.lock:
                    state = BATTERY if self.on_battery else LINE
                self._send(f"frame {state} noise={noise} repeat=20")
            time.sleep(0.05)

    def stop(self):
        self.stopping.set()
        self.thread.join(5)
        self._follow_log()


# ---------------------------------------------------------------- NUT clients


class StayingClient:
    """A NUT client that logs in once and stays; asked now and then for ups.status."""

    def __init__(self, port):
        self.port = port
        self.sock = None
        self.buffer = b""
        self.reconnects = 0
        self.answers = 0
        self.failures = []

    def _ask(self, line):
        self.sock.sendall(line.encode() + b"\n")
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise OSError("the server closed the connection")
            self.buffer += chunk
        answer, self.buffer = self.buffer.split(b"\n", 1)
        return answer.decode()

    def connect(self):
        self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=10)
        self.buffer = b""
        for line, want in ((f"USERNAME {USER}", "OK"), (f"PASSWORD {PASSWORD}", "OK"),
                           ("LOGIN ups", "OK")):
            answer = self._ask(line)
            if answer != want:
                raise OSError(f"{line.split()[0]}: {answer}")

    def check(self):
        try:
            if self.sock is None:
                self.connect()
            answer = self._ask("GET VAR ups ups.status")
            if answer.startswith("VAR ups ups.status"):
                self.answers += 1
            else:
                self.failures.append(answer)
        except OSError as e:
            self.failures.append(str(e))
            if self.sock is not None:
                self.sock.close()
            self.sock = None
            self.reconnects += 1

    def logins(self):
        """NUMLOGINS as a fresh client reads it."""
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
                s.sendall(b"GET NUMLOGINS ups\n")
                return s.recv(4096).decode().strip()
        except OSError as e:
            return str(e)

    def close(self):
        if self.sock is not None:
            self.sock.close()


def upsc_once(port):
    """A client that connects, reads every variable and leaves: answers whether it read."""
    try:
        proc = subprocess.run(["upsc", f"ups@127.0.0.1:{port}"], capture_output=True, text=True,
                              timeout=15, check=False)
    except subprocess.TimeoutExpired:
        return False
    return proc.returncode == 0 and "ups.status:" in proc.stdout


# ---------------------------------------------------------------- measuring


def linux_figures(pid):
    """(open fds, private kB, CPU s) of a Linux process; None when it is gone."""
    try:
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        private = 0
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith(("Private_Clean:", "Private_Dirty:")):
                    private += int(line.split()[1])
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read().decode()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return fds, private, (int(fields[11]) + int(fields[12])) / TICK


def private_by_mapping(pid):
    """{mapping name: private kB} of a Linux process, from smaps (anonymous memory as
    "[anon]"); {} when it is gone."""
    result = {}
    name = None
    try:
        with open(f"/proc/{pid}/smaps") as f:
            for line in f:
                head = line.split(None, 1)[0]
                if "-" in head and not head.endswith(":"):
                    parts = line.split(None, 5)
                    name = parts[5].strip() if len(parts) > 5 else "[anon]"
                elif head in ("Private_Clean:", "Private_Dirty:"):
                    result[name] = result.get(name, 0) + int(line.split()[1])
    except OSError:
        return {}
    return result


def corvamon_linux_pid(wine):
    for pid in wine.server_pids():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"Corvamon.exe" in f.read():
                    return pid
        except OSError:
            continue
    return None


def inside_figures(wine, counts_exe):
    """soak_counts's figures for Corvamon.exe, {name: value}; {} when it could not run."""
    return inside_figures_of(wine, counts_exe, "Corvamon.exe")


def inside_figures_of(wine, counts_exe, exe_name, total=False):
    """soak_counts's figures for the one process named exe_name, or with `total` the sums over
    every process of that name; {} when there is none (or, without `total`, more than one)."""
    rc, out, _ = harness.run_to_files(["wine", counts_exe, "counts", exe_name], wine.env, 60)
    lines = out.strip().splitlines() if rc == 0 else []
    if not lines or (len(lines) > 1 and not total):
        return {}
    figures = {}
    for line in lines:
        for key, value in (item.split("=") for item in line.split()):
            if key != "pid":
                figures[key] = figures.get(key, 0) + int(value)
    return figures


def handle_types(wine, counts_exe, exe_name):
    """'typeT=N ...' of the handles of the process named exe_name (for a count that moved)."""
    rc, out, _ = harness.run_to_files(["wine", counts_exe, "handle-types", exe_name], wine.env,
                                      60)
    return " ".join(out.split()[1:]) if rc == 0 and out.strip() else "(none)"


FIGURES = (  # (key, label, unit)
    ("fds", "file descriptors (Linux /proc)", ""),
    ("linux_private_kb", "private memory (Linux /proc)", "kB"),
    ("handles", "handles (inside Wine)", ""),
    ("private_kb", "private bytes (inside Wine)", "kB"),
    ("gdi", "GDI objects", ""),
    ("user", "USER objects (windows)", ""),
    ("cpu_s", "CPU time", "s"),
)


def slope_per_hour(points):
    """Least-squares slope of (minute, value) points, per hour; None with fewer than two."""
    if len(points) < 2:
        return None
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    if sxx == 0:
        return None
    return sum((x - mx) * (y - my) for x, y in points) / sxx * 60


# ---------------------------------------------------------------- the checks


def logged_events(path):
    """The failure and return entries of Bitacora.txt in file order: (kind, stamp text)."""
    data = harness.read_bytes(path) or b""
    found = []
    for line in data.decode("cp1252", "replace").split("\r\n"):
        for header, kind in ((FAILURE_HEADER, "failure"), (RETURN_HEADER, "return")):
            if line.startswith(header):
                found.append((kind, line[len(header):]))
    return found


def stamp_seconds(text):
    m = STAMP.search(text)
    if not m:
        return None
    day, month, year, hh, mm, ss = (int(g) for g in m.groups())
    return time.mktime((year, month, day, hh, mm, ss, 0, 0, -1))


def read_history(path):
    """({minute text: rows} of the minute rows of Historial.csv, [the event rows' kinds in file
    order]); None when there is no file."""
    data = harness.read_bytes(path)
    if data is None:
        return None
    lines = data.decode("utf-8-sig", "replace").splitlines()
    if not lines or not lines[0].startswith("Fecha y hora"):
        return {}, []
    separator = lines[0][len("Fecha y hora")]  # the user's list separator
    rows, events = {}, []
    for line in lines[1:]:
        fields = line.split(separator)
        m = re.match(r"^(\d{4}-\d\d-\d\dT\d\d:\d\d):\d\d[+-]\d\d:\d\d$", fields[0])
        if not m or len(fields) < 2:
            continue
        if fields[1] == "Minuto":
            rows[m.group(1)] = rows.get(m.group(1), 0) + 1
        elif fields[1] in ("Corte de energía", "Retorno de energía"):
            events.append("failure" if fields[1] == "Corte de energía" else "return")
    return rows, events


# ---------------------------------------------------------------- the run


def main():
    def extra(parser):
        parser.add_argument("--minutes", type=float, default=30)
        parser.add_argument("--seed", type=int, default=19)
        parser.add_argument("--mappings", action="store_true",
                            help="also print which of the process's mappings (Linux side) grew "
                                 "from the end of the warm-up to the last minute")
    args = arguments(__doc__.split("\n")[0], extra)
    rng = random.Random(args.seed)
    counts_exe = os.path.join(os.path.abspath(args.win_build_dir), "bench", "soak_counts.exe")
    if not os.path.isfile(counts_exe):
        print(f"no {counts_exe}: build the target soak_counts of the Windows tree",
              file=sys.stderr)
        return 2
    # upssim must outlive the run.
    harness.Upssim.LIFETIME_MS = int((args.minutes + 15) * 60000)
    port = free_port()
    samples = []  # (minute, {figure: value})
    mapping_samples = {}  # minute: {mapping: private kB}, with --mappings
    sent = []  # ("failure" | "return", epoch seconds when the frames changed)
    tally = {"locks": 0, "lock_failures": 0, "noise": 0, "cut": 0, "taskbar": 0, "upsc": 0,
             "upsc_failed": 0}

    with Session(args, "bench.soak", soak_ini(port)) as s:
        feeder = Feeder(s.sim)
        feeder.start()
        if not harness.wait_until(lambda: os.path.exists(s.program.event_log), 15):
            raise harness.CaseFailure("the first frames wrote no start entry")
        if not harness.wait_until(lambda: upsc_once(port), 30):
            raise harness.CaseFailure(f"no NUT server answers on port {port}")
        staying = StayingClient(port)
        staying.check()
        linux_pid = corvamon_linux_pid(s.case.wine)
        print(f"Corvamon's wine process: pid {linux_pid}; NUT server on port {port}; "
              f"seed {args.seed}; {args.minutes:g} minutes", flush=True)

        t0 = time.monotonic()
        end = t0 + args.minutes * 60
        # The schedule: each kind of event has its next time.
        next_at = {
            "failure": t0 + rng.uniform(5, 35),
            "lock": t0 + rng.uniform(60, 240),
            "noise": t0 + rng.uniform(5, 30),
            "cut": t0 + rng.uniform(5, 30),
            "taskbar": t0 + rng.uniform(60, 300),
            "upsc": t0 + rng.uniform(10, 60),
            "staying": t0 + 30,
            "sample": t0,
        }
        return_at = None
        locks = []
        minute = 0
        print(f"{'min':>4} {'fds':>5} {'priv kB':>8} {'handles':>7} {'wine kB':>8} {'GDI':>5} "
              f"{'USER':>5} {'CPU s':>7} {'fail':>5} {'frames':>7}", flush=True)
        while True:
            now = time.monotonic()
            if now >= end and return_at is None:
                break
            if not s.program.running():
                raise harness.CaseFailure(f"Corvamon ended after {(now - t0) / 60:.1f} min")
            if return_at is not None and now >= return_at:
                feeder.set_battery(False)
                sent.append(("return", time.time()))
                return_at = None
            if now >= next_at["failure"] and return_at is None and now < end - 10:
                feeder.set_battery(True)
                sent.append(("failure", time.time()))
                return_at = now + rng.uniform(2, 8)
                # Failures come every 20 s on average, from the start of one to the next.
                next_at["failure"] = now + rng.uniform(10, 30)
            if now >= next_at["lock"]:
                next_at["lock"] = now + rng.uniform(120, 360)
                try:
                    locks.append(s.case.lock_file(s.program.event_log, rng.randint(3000, 6000)))
                    tally["locks"] += 1
                except harness.CaseFailure as e:
                    tally["lock_failures"] += 1
                    print(f"  the log could not be locked: {e}", flush=True)
                for done in [p for p in locks if not p.running()]:
                    locks.remove(done)
            if now >= next_at["noise"]:
                next_at["noise"] = now + rng.uniform(10, 50)
                feeder.extras.put(f"noise={rng.randint(1, 12)}")
                tally["noise"] += 1
            if now >= next_at["cut"]:
                next_at["cut"] = now + rng.uniform(10, 50)
                feeder.extras.put("cut")
                tally["cut"] += 1
            if now >= next_at["taskbar"]:
                next_at["taskbar"] = now + rng.uniform(180, 420)
                harness.run_to_files(["wine", counts_exe, "taskbar-created"], s.case.wine.env, 60)
                tally["taskbar"] += 1
            if now >= next_at["upsc"]:
                next_at["upsc"] = now + rng.uniform(15, 60)
                tally["upsc"] += 1
                if not upsc_once(port):
                    tally["upsc_failed"] += 1
            if now >= next_at["staying"]:
                next_at["staying"] = now + 30
                staying.check()
            if now >= next_at["sample"]:
                next_at["sample"] += 60
                figures = inside_figures(s.case.wine, counts_exe)
                linux = linux_figures(linux_pid)
                if linux is not None:
                    figures["fds"], figures["linux_private_kb"], figures["cpu_s"] = linux
                if args.mappings and minute in (WARM_UP_MINUTES, int(args.minutes) - 1):
                    mapping_samples[minute] = private_by_mapping(linux_pid)
                samples.append((minute, figures))

                def show(key, width):
                    value = figures.get(key)
                    return f"{'-' if value is None or value < 0 else value:>{width}}"
                print(f"{minute:>4} {show('fds', 5)} {show('linux_private_kb', 8)} "
                      f"{show('handles', 7)} {show('private_kb', 8)} {show('gdi', 5)} "
                      f"{show('user', 5)} {figures.get('cpu_s', 0):>7.2f} "
                      f"{sum(1 for k, _ in sent if k == 'failure'):>5} {feeder.frames:>7}",
                      flush=True)
                minute += 1
            time.sleep(0.1)

        # Let the last entries and any held ones reach the file (a lock lasts at most 6 s).
        time.sleep(1)
        harness.wait_until(lambda: not any(p.running() for p in locks), 15)
        harness.wait_until(lambda: len(logged_events(s.program.event_log)) >= len(sent), 10)
        feeder.stop()
        logins = staying.logins()
        staying.close()
        alive = s.program.running()
        events = logged_events(s.program.event_log)
        history = read_history(os.path.join(s.program.folder, "Historial.csv"))
        open_minute = time.strftime("%Y-%m-%dT%H:%M")

    # ---- the figures
    if len(mapping_samples) == 2:
        (first_minute, before), (last_minute, after) = sorted(mapping_samples.items())
        changes = sorted(((after.get(k, 0) - before.get(k, 0), k) for k in set(before) | set(after)),
                         reverse=True)
        print(f"\nprivate kB by mapping (Linux side), minute {first_minute} to {last_minute}:")
        for delta, name in [c for c in changes if c[0] != 0][:12]:
            print(f"  {delta:+8d}  {before.get(name, 0):>8} -> {after.get(name, 0):>8}  {name}")
    print()
    print(f"Corvamon under Wine, {args.minutes:g} minutes, seed {args.seed}: {feeder.frames} "
          f"frames (20 a second), {len(samples)} samples")
    print(f"schedule: {sum(1 for k, _ in sent if k == 'failure')} failures and "
          f"{sum(1 for k, _ in sent if k == 'return')} returns, {tally['locks']} log locks "
          f"({tally['lock_failures']} could not be made), {tally['noise']} seconds of line noise, "
          f"{tally['cut']} cut frames, {tally['taskbar']} Explorer restarts, {tally['upsc']} upsc "
          f"reads ({tally['upsc_failed']} failed), a logged-in client asked {staying.answers} "
          f"times ({len(staying.failures)} failures, {staying.reconnects} reconnections; "
          f"at the end {logins})")
    later = [(m, f) for m, f in samples if m >= WARM_UP_MINUTES]
    basis = later if len(later) >= 2 else samples
    print(f"growth per hour: least-squares slope over minutes {basis[0][0] if basis else '-'} "
          f"to {basis[-1][0] if basis else '-'}")
    print(f"  {'figure':<34} {'first':>9} {'last':>9} {'per hour':>10} {'per hour %':>10}")
    growth = {}
    for key, label, unit in FIGURES:
        values = [(m, f[key]) for m, f in samples if f.get(key) is not None and f[key] >= 0]
        if not values:
            print(f"  {label:<34} {'(Wine gives no figure)':>31}")
            continue
        points = [(m, v) for m, v in values if (m, v) in
                  [(bm, bf.get(key)) for bm, bf in basis]]
        slope = slope_per_hour(points)
        growth[key] = slope
        mean = sum(v for _, v in points) / len(points) if points else 0
        if key == "cpu_s":  # CPU time grows by design: its growth is the share of one core
            percent = f"{slope / 36:7.3f}% cpu" if slope is not None else f"{'-':>10}"
        else:
            percent = f"{slope / mean * 100:9.2f}%" if slope is not None and mean else f"{'-':>10}"
        first, last = values[0][1], values[-1][1]
        fmt = (lambda v: f"{v:9.2f}") if key == "cpu_s" else (lambda v: f"{v:9d}")
        per_hour = f"{slope:10.2f}" if slope is not None else f"{'-':>10}"
        print(f"  {label + (' ' + unit if unit else ''):<34} {fmt(first)} {fmt(last)} "
              f"{per_hour} {percent}")

    # ---- the checks
    expected = [k for k, _ in sent]
    logged = [k for k, _ in events]
    in_order = logged == expected
    stamps = [stamp_seconds(st) for _, st in events]
    # Each entry's time is within 3 s after its frames changed (the stamps have whole seconds).
    late = [i for i, ((_, when), stamp) in enumerate(zip(sent, stamps))
            if stamp is None or not when - 1.5 <= stamp <= when + 3] if in_order else []
    print()
    print(f"Bitacora.txt: {len(expected)} failures and returns sent, {len(logged)} logged; "
          f"missing {max(0, len(expected) - len(logged))}, extra "
          f"{max(0, len(logged) - len(expected))}; in the order sent: "
          f"{'yes' if in_order else 'NO'}; entries stamped away from their frames: {len(late)}")
    history_ok = True
    if history is None:
        print("Historial.csv: not written by this Corvamon.exe; the history check was skipped")
    else:
        history, history_events = history
        had_frames = feeder.frame_minutes - {open_minute}
        missing = sorted(had_frames - set(history))
        extra_rows = sorted(set(history) - feeder.frame_minutes)
        twice = sorted(m for m, n in history.items() if n > 1)
        history_ok = not missing and not extra_rows and not twice and history_events == expected
        print(f"Historial.csv: {len(had_frames)} closed minutes had frames, {len(history)} minute "
              f"rows; missing {len(missing)} {missing[:5]}, without frames {len(extra_rows)} "
              f"{extra_rows[:5]}, twice {len(twice)} {twice[:5]}; {len(history_events)} event "
              f"rows, the failures and returns sent in order: "
              f"{'yes' if history_events == expected else 'NO'}")
    print(f"Corvamon {'still running' if alive else 'ENDED'}")

    ok = alive and in_order and not late and history_ok
    for key in ("handles", "gdi", "user"):
        # Counts are whole numbers: less than one object in the whole run is no growth.
        if growth.get(key) is not None and growth[key] * args.minutes / 60 >= 1:
            print(f"growth in {key}: {growth[key]:.2f} per hour")
            ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    run_main(main, "run_soak")
