#!/usr/bin/env python3
"""How long a power failure takes to reach the event log: from upssim writing the last byte of
the first battery frame to the "Corte de energía " entry being in Bitacora.txt, with the real
Corvamon.exe under Wine. The return of power ("Retorno de energía ") is measured alongside.

Needs the build (scripts/build: dist/x86_64/Corvamon.exe, dist/linux/upssim and the probe in
build/x86_64). From the source folder:

    python3 bench/run_failure_latency.py                 # 40 failures, about a minute in all
    python3 bench/run_failure_latency.py --failures 200 --watch poll

By default it makes a Wine prefix and an Xvfb of its own in build/bench (about 10 s) and ends
them afterwards, so it can run beside a test run. --reuse-prefix uses the prefix already in
--build-dir instead (made by tests/wine/prefix-setup.sh or ctest) and leaves it running.

Both sides use the wall clock: upssim logs each write as "TX <ms> <hex> @<local time, ms>"
taken just before the write, and this script notes when Bitacora.txt grows (inotify, or
--watch poll: a stat every millisecond). upssim makes that local time from its start time plus
whole elapsed milliseconds and prints it cut to whole milliseconds, so a stamp is up to about
2 ms early and the figures up to 2 ms long. A second line therefore takes as the write's time
the later of its stamp and the moment this script handed the frame command to upssim (the
write cannot have come before that).

Prints median, p99 and max in milliseconds. Only the standard library is used.
"""

import argparse
import contextlib
import ctypes
import os
import random
import select
import signal
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))

import harness  # noqa: E402  (found through the path above)

LINE_POWER = "frame volt=14400 period=16667 battery=200 line=0 mode=0"
FAILURE = "frame volt=0 period=16667 battery=190 line=1 mode=1"
FAILURE_BYTES = bytes.fromhex("262626 0000 BE 415C 3131".replace(" ", ""))
RETURN_BYTES = bytes.fromhex("262626 3878 C8 415C 3030".replace(" ", ""))
INI = {
    "Inicio": {"DataString": "&&&10"},
    # As a protected PC is set up: log, balloons, window to the front on a failure.
    "Prefs": {"Bitacora": "1", "NotifAviso": "1", "NotifMaximiza": "1", "CierraconX": "1"},
}
FAILURE_HEADER = "Corte de energía ".encode("cp1252")
RETURN_HEADER = "Retorno de energía ".encode("cp1252")


def arguments(description, extra=None):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "bench"),
                        help="where the prefix and the program folders go (default build/bench)")
    parser.add_argument("--reuse-prefix", action="store_true",
                        help="use the prefix already in --build-dir; do not make or end one")
    parser.add_argument("--win-build-dir", default=os.path.join(SOURCE_DIR, "build", "x86_64"))
    parser.add_argument("--dist-dir", default=os.path.join(SOURCE_DIR, "dist"))
    if extra:
        extra(parser)
    return parser.parse_args()


@contextlib.contextmanager
def bench_prefix(args):
    """The Wine prefix a benchmark runs in: made in --build-dir and ended afterwards, or, with
    --reuse-prefix, the one already running there."""
    os.makedirs(args.build_dir, exist_ok=True)
    args.build_dir = os.path.abspath(args.build_dir)
    if args.reuse_prefix:
        yield
        return
    print(f"making a Wine prefix in {args.build_dir}/wine ...", flush=True)
    with harness.wine_prefix(args.build_dir):
        yield


def run_main(main, name):
    """Runs a benchmark's main: signals end it through its cleanups, a failed case is said on
    stderr with exit code 1."""
    leave_on_signals()
    try:
        sys.exit(main())
    except harness.CaseFailure as e:
        print(f"{name}: {e}", file=sys.stderr)
        sys.exit(1)


class Session:
    """A prefix (made here unless reused), upssim on COM1 taking commands, Corvamon started
    with the given ini and its window up. Everything is ended on leaving, also on failure."""

    def __init__(self, args, name, ini):
        self.args = args
        self.name = name
        self.ini = ini

    def __enter__(self):
        self.prefix = bench_prefix(self.args)
        self.prefix.__enter__()
        try:
            self.case = harness.Case(self.name, harness.Paths(self.args))
            self.case.stack.__enter__()
            self.sim = self.case.upssim(stdin_scenario=True)
            self.case.wine.map_com(1, self.sim.pty)
            self.program = self.case.corvamon(self.ini)
            self.program.start()
            if self.case.probe.wait_window(harness.MAIN_CAPTION, 30000) is None:
                raise harness.CaseFailure("Corvamon's window did not come within 30 s")
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, *exc):
        case = getattr(self, "case", None)
        try:
            if case is not None:
                case.stack.__exit__(None, None, None)
        finally:
            self.prefix.__exit__(None, None, None)
        return False


class FileWatch:
    """Notes (wall time, size) each time a file changes size, from a thread of its own."""

    IN_MODIFY = 0x002

    def __init__(self, path, method):
        self.path = path
        self.method = method
        self.changes = []
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.size = os.path.getsize(path)
        self.fd = None
        if method == "inotify":
            libc = ctypes.CDLL("libc.so.6", use_errno=True)
            self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
            if self.fd < 0 or libc.inotify_add_watch(self.fd, path.encode(), self.IN_MODIFY) < 0:
                raise OSError(ctypes.get_errno(), f"inotify on {path}")
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _look(self, when):
        size = os.path.getsize(self.path)
        if size != self.size:
            self.size = size
            with self.lock:
                self.changes.append((when, size))

    def _run(self):
        while not self.stopping.is_set():
            if self.fd is not None:
                ready, _, _ = select.select([self.fd], [], [], 0.1)
                if not ready:
                    continue
                when = time.time()
                os.read(self.fd, 65536)
                self._look(when)
            else:
                self._look(time.time())
                time.sleep(0.001)

    def first_growth_past(self, size):
        """When the file first grew past `size` bytes, or None."""
        with self.lock:
            for when, now in self.changes:
                if now > size:
                    return when
        return None

    def stop(self):
        self.stopping.set()
        self.thread.join(5)
        if self.fd is not None:
            os.close(self.fd)


def percentile(values, fraction):
    """Nearest rank: the smallest value with at least `fraction` of the values at or below it."""
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * fraction // 1))
    return ordered[int(rank) - 1]


def summary(values):
    return (f"median {statistics.median(values):6.1f} ms   p99 {percentile(values, 0.99):6.1f} ms"
            f"   max {max(values):6.1f} ms   min {min(values):6.1f} ms")


def one_event(sim, watch, log_path, command, frame_bytes, header, timeout=10):
    """Sends one frame and answers, for the entry it writes, (latency from the TX stamp,
    latency from the later of the stamp and the command, command-to-stamp), all in ms."""
    before = os.path.getsize(log_path)
    sent_tx = len(sim.tx_records())
    asked = time.time()
    sim.send(command)
    deadline = time.monotonic() + timeout
    while True:
        with open(log_path, "rb") as f:
            f.seek(before)
            if header in f.read():
                break
        if time.monotonic() > deadline:
            raise harness.CaseFailure(f"no {header!r} entry {timeout} s after `{command}`")
        time.sleep(0.005)
    written = harness.wait_until(lambda: watch.first_growth_past(before), 2, step=0.005)
    tx = harness.wait_until(lambda: [r for r in sim.tx_records()[sent_tx:] if r[1] == frame_bytes],
                            5, step=0.01)
    if not written or not tx:
        raise harness.CaseFailure(f"no file change or no TX line for `{command}`")
    stamp = tx[0][2]
    return (written - stamp) * 1000, (written - max(stamp, asked)) * 1000, (stamp - asked) * 1000


def main():
    def extra(parser):
        parser.add_argument("--failures", type=int, default=40, help="how many (at least 30)")
        parser.add_argument("--watch", choices=("inotify", "poll"), default="inotify")
        parser.add_argument("--seed", type=int, default=7, help="for the pauses between events")
        parser.add_argument("--history", choices=("on", "off"), default="on",
                            help="[Prefs] Historial: the power history written beside the log "
                                 "(on, as installed) or not, to compare the two")
    args = arguments(__doc__.split("\n")[0], extra)
    if args.failures < 30:
        print("--failures: at least 30", file=sys.stderr)
        return 2
    pause = random.Random(args.seed)
    ini = {section: dict(keys) for section, keys in INI.items()}
    ini["Prefs"]["Historial"] = "1" if args.history == "on" else "0"
    print(f"history {args.history}")
    with Session(args, "bench.failure_latency", ini) as s:
        s.sim.send("every 20")
        s.sim.send(LINE_POWER)
        if not harness.wait_until(lambda: os.path.exists(s.program.event_log), 10):
            raise harness.CaseFailure("no start entry in Bitacora.txt")
        time.sleep(0.5)
        watch = FileWatch(s.program.event_log, args.watch)
        failures, returns, to_tx = [], [], []
        failures_bound, returns_bound = [], []
        try:
            for i in range(args.failures):
                # Irregular pauses, so that no timer of the monitor's keeps the same phase.
                time.sleep(pause.uniform(0.15, 0.45))
                latency, bound, ask = one_event(s.sim, watch, s.program.event_log, FAILURE,
                                                FAILURE_BYTES, FAILURE_HEADER)
                failures.append(latency)
                failures_bound.append(bound)
                to_tx.append(ask)
                time.sleep(pause.uniform(0.15, 0.45))
                latency, bound, ask = one_event(s.sim, watch, s.program.event_log, LINE_POWER,
                                                RETURN_BYTES, RETURN_HEADER)
                returns.append(latency)
                returns_bound.append(bound)
                to_tx.append(ask)
                if (i + 1) % 10 == 0:
                    print(f"  {i + 1} failures", flush=True)
        finally:
            watch.stop()
        with open(s.program.event_log, "rb") as f:
            text = f.read()
        entries = (text.count(FAILURE_HEADER), text.count(RETURN_HEADER))
        alive = s.program.running()
        history = os.path.join(s.program.folder, "Historial.csv")
        history_rows = None
        if os.path.exists(history):
            with open(history, encoding="utf-8-sig") as f:
                rows = f.read()
            history_rows = (rows.count("Corte de energía"), rows.count("Retorno de energía"))

    print()
    print(f"Corvamon under Wine, serial link on a pseudo-terminal, file watch: {args.watch}")
    print(f"failure frame -> 'Corte de energía' in Bitacora.txt, {len(failures)} failures:")
    print(f"  from the TX stamp:            {summary(failures)}")
    print(f"  from max(stamp, command):     {summary(failures_bound)}")
    print(f"line-power frame -> 'Retorno de energía' in Bitacora.txt, {len(returns)} returns:")
    print(f"  from the TX stamp:            {summary(returns)}")
    print(f"  from max(stamp, command):     {summary(returns_bound)}")
    print(f"(command to upssim -> its TX stamp: median {statistics.median(to_tx):.1f} ms, "
          f"min {min(to_tx):.1f} ms; below -2 ms the two clocks would disagree)")
    print(f"entries in the log: {entries[0]} failures, {entries[1]} returns; "
          f"Corvamon {'still running' if alive else 'ENDED'}")
    if history_rows is not None:
        print(f"event rows in Historial.csv: {history_rows[0]} failures, {history_rows[1]} returns")
    if args.history == "on" and history_rows != entries:
        print("the history does not hold one row per event", file=sys.stderr)
        return 1
    if entries != (len(failures), len(returns)) or not alive:
        print("the log does not hold one entry per event, or Corvamon ended", file=sys.stderr)
        return 1
    return 0


def leave_on_signals():
    """SIGTERM or SIGHUP end the script through its cleanups, as Ctrl-C does."""
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda signum, frame: sys.exit(128 + signum))


if __name__ == "__main__":
    run_main(main, "run_failure_latency")
