#!/usr/bin/env python3
"""How long a shutdown takes to be asked for: from upssim writing the last byte of the battery
frame that crosses the shutdown threshold to Windows being told to shut down, with the real
Corvamon.exe under Wine. Office documents are not saved (GuardaOffice=0) and the UPS is not told
to turn off (ApagaTNX=0, so no 1.2 s pause); the log is on (Bitacora=1).

Needs the build (scripts/build: dist/x86_64/Corvamon.exe, dist/linux/upssim and the probe in
build/x86_64; CORVA_EXE names another Corvamon.exe). From the source folder:

    python3 bench/run_shutdown_latency.py                # 10 shutdowns, about two minutes
    python3 bench/run_shutdown_latency.py --runs 20 --no-fork-watch

By default it makes a Wine prefix and an Xvfb of its own in build/bench-shutdown and ends them
afterwards. --reuse-prefix uses the prefix already in --build-dir instead and leaves it running.

Under Wine, ExitWindowsEx starts `wineboot --kill --shutdown`, which ends every Windows process
of the prefix, Corvamon included, about 0.25 s later; the wine server stays. So each run is one
Corvamon started afresh in its own folder, taken to line power and then on battery (66.67 %),
and then given the frame that decides (20.00 %, threshold 30 %). Between runs the prefix's
services are started again (harness.Wine.restore_session). Three moments are noted after the
deciding frame, each on the wall clock:

  entry     Bitacora.txt grows with the "Apagado por bateria a nivel personalizado" entry, which
            Corvamon writes just before the shutdown sequence (inotify)
  request   the wineboot process that ExitWindowsEx starts appears in /proc (a listing of /proc
            every millisecond while the frame is under way; --no-fork-watch leaves it out, as it
            takes a little CPU beside Wine). The new process is seen from its fork on, so this
            is the moment of the request within about a millisecond
  gone      the Corvamon process has ended (a thread blocked in waitpid on it)

upssim logs each write as "TX <ms> <hex> @<local time, ms>" taken just before the write, made
from its start time plus whole elapsed milliseconds and cut to whole milliseconds: a stamp is up
to about 2 ms early, so the figures are up to about 2 ms long. As in run_failure_latency.py a
second set takes as the write's time the later of the stamp and the moment the frame command
was handed to upssim. A pseudo-terminal carries the ten bytes at once; a real 9600-baud line
would add about 10 ms for them.

Prints median, min and max in milliseconds. Only the standard library is used.
"""

import os
import random
import statistics
import sys
import threading
import time

from run_failure_latency import FileWatch, arguments, bench_prefix, harness, run_main

LINE_POWER = "frame volt=14400 period=16667 battery=200 line=0 mode=0"
FAILURE = "frame volt=0 period=16667 battery=190 line=1 mode=1"    # 66.67 %: first, /75
DECIDING = "frame volt=0 period=16667 battery=150 line=1 mode=1"   # 20.00 %
DECIDING_BYTES = bytes.fromhex("262626 0000 96 415C 3131".replace(" ", ""))
INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"Bitacora": "1", "NotifAviso": "1", "NotifMaximiza": "1", "CierraconX": "1",
              "GuardaOffice": "0"},
    "Apaga": {"ApagaPorcentaje": "1", "ApagaQuePorcentaje": "30", "ApagaTNX": "0"},
}
ENTRY_HEADER = b"Apagado por bateria a nivel personalizado "
ENTRY_BATTERY = b"\tBateria 20.00 %\r\n"
FAILURE_HEADER = "Corte de energía ".encode("cp1252")


class ForkWatch:
    """Notes when new processes appear in /proc (a listing every millisecond, from a thread),
    and which of them become wineboot.exe of this prefix."""

    def __init__(self, prefix):
        self.prefix = b"WINEPREFIX=" + prefix.encode()
        self.known = set(os.listdir("/proc"))
        self.first_seen = {}
        self.wineboot = []
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.stopping.is_set():
            now = time.time()
            for entry in os.listdir("/proc"):
                if entry not in self.known and entry.isdigit():
                    self.known.add(entry)
                    self.first_seen[entry] = now
            for entry, when in list(self.first_seen.items()):
                if self._is_wineboot(entry):
                    self.wineboot.append((when, int(entry)))
                    del self.first_seen[entry]
            time.sleep(0.001)

    def _is_wineboot(self, pid):
        try:
            with open(f"/proc/{pid}/comm", "rb") as f:
                if not f.read().lower().startswith(b"wineboot"):
                    return False
            with open(f"/proc/{pid}/environ", "rb") as f:
                return self.prefix in f.read().split(b"\0")
        except OSError:
            return False

    def stop(self):
        self.stopping.set()
        self.thread.join(5)

    def started(self):
        """When the first wineboot of this prefix was first seen, or None."""
        return min(self.wineboot)[0] if self.wineboot else None


class ExitWatch:
    """The moment a started program's process ends: a thread blocked in waitpid on it."""

    def __init__(self, program):
        self.ended = None
        self.thread = threading.Thread(target=self._run, args=(program.proc,), daemon=True)
        self.thread.start()

    def _run(self, proc):
        proc.wait()
        self.ended = time.time()


def one_run(case, sim, folder, args, pause):
    """Starts Corvamon, brings it on battery, sends the deciding frame; answers
    {"entry"|"request"|"gone": (ms from the TX stamp, ms from max(stamp, command))}."""
    program = harness.Corvamon(case.paths.corvamon, folder, case.wine)
    program.write_ini(INI)
    case.programs.append(program)
    case.stack.callback(program.stop)
    program.start()
    if case.probe.wait_window(harness.MAIN_CAPTION, 30000) is None:
        raise harness.CaseFailure("Corvamon's window did not come within 30 s")
    session = harness.SessionEnd(case, program)
    if "services.exe" not in session.others.values():
        raise harness.CaseFailure(f"Wine's services are not running: {session.others}")

    sim.send(LINE_POWER)
    if not harness.wait_until(lambda: os.path.exists(program.event_log), 10, step=0.01):
        raise harness.CaseFailure("the line-power frame wrote no start entry")
    sim.send(FAILURE)
    if not harness.wait_until(
            lambda: FAILURE_HEADER in (harness.read_bytes(program.event_log) or b""), 10,
            step=0.01):
        raise harness.CaseFailure("the failure frame wrote no entry")
    # Irregular pauses, so that no timer of the monitor's keeps the same phase.
    time.sleep(pause.uniform(0.3, 0.7))

    size = os.path.getsize(program.event_log)
    files = FileWatch(program.event_log, "inotify")
    forks = ForkWatch(case.wine.env["WINEPREFIX"]) if args.fork_watch else None
    exits = ExitWatch(program)
    sent_tx = len(sim.tx_records())
    asked = time.time()
    try:
        sim.send(DECIDING)
        exits.thread.join(15)
        if exits.ended is None:
            raise harness.CaseFailure("Corvamon still runs 15 s after the deciding frame")
        time.sleep(0.2)  # the inotify thread's last notes
    finally:
        files.stop()
        if forks:
            forks.stop()

    text = harness.read_bytes(program.event_log)[size:]
    if not text.startswith(ENTRY_HEADER) or ENTRY_BATTERY not in text:
        raise harness.CaseFailure(f"not the threshold entry after the deciding frame: {text!r}")
    tx = [r for r in sim.tx_records()[sent_tx:] if r[1] == DECIDING_BYTES]
    if not tx:
        raise harness.CaseFailure("no TX line for the deciding frame")
    if sim.rx_lines():
        raise harness.CaseFailure(f"the UPS received bytes with ApagaTNX=0: {sim.rx_lines()}")
    stamp = tx[0][2]
    moments = {"entry": files.first_growth_past(size)}
    if forks:
        moments["request"] = forks.started()
    moments["gone"] = exits.ended
    missing = [name for name, when in moments.items() if when is None]
    if missing:
        raise harness.CaseFailure(f"not seen after the deciding frame: {', '.join(missing)}")
    if program.exit_code() != 0:
        raise harness.CaseFailure(f"Corvamon ended with exit code {program.exit_code()}")
    # Every Windows process of the prefix ends with it: the session ended, not a crash.
    def others_alive():
        return {pid: name for pid, name in case.wine.windows_processes().items()
                if pid in session.others}
    if not harness.wait_until(lambda: not others_alive(), 5, step=0.05):
        raise harness.CaseFailure(f"the Wine session did not end: {others_alive()} still run")
    if not case.wine.restore_session():
        raise harness.CaseFailure("Wine's services did not come back after the session's end")
    return {name: ((when - stamp) * 1000, (when - max(stamp, asked)) * 1000)
            for name, when in moments.items()}, (stamp - asked) * 1000


def line(label, values):
    return (f"  {label:<52} median {statistics.median(values):7.1f}   min {min(values):7.1f}"
            f"   max {max(values):7.1f}")


def main():
    def extra(parser):
        parser.set_defaults(build_dir=os.path.join(harness.SOURCE_DIR, "build", "bench-shutdown"))
        parser.add_argument("--runs", type=int, default=10, help="how many shutdowns (at least 5)")
        parser.add_argument("--no-fork-watch", dest="fork_watch", action="store_false",
                            help="do not list /proc every millisecond for the wineboot process")
        parser.add_argument("--seed", type=int, default=11, help="for the pauses")
    args = arguments(__doc__.split("\n")[0], extra)
    if args.runs < 5:
        print("--runs: at least 5", file=sys.stderr)
        return 2
    pause = random.Random(args.seed)
    results, to_tx = [], []

    with bench_prefix(args):
        case = harness.Case("bench.shutdown_latency", harness.Paths(args))
        with case.stack:
            sim = case.upssim(stdin_scenario=True)
            sim.send("every 20")   # frame commands run one after the other without waiting
            case.wine.map_com(1, sim.pty)
            # Whatever happens, the prefix is left with its services running.
            case.stack.callback(case.wine.restore_session)
            for i in range(args.runs):
                folder = os.path.join(case.folder, f"run{i + 1:02d}")
                os.makedirs(folder)
                figures, ask = one_run(case, sim, folder, args, pause)
                results.append(figures)
                to_tx.append(ask)
                shown = "   ".join(f"{name} {ms:6.1f}" for name, (ms, _) in figures.items())
                print(f"  run {i + 1:2d}: {shown} ms", flush=True)

    labels = [("entry", "-> 'Apagado por bateria' entry in Bitacora.txt"),
              ("request", "-> wineboot started by ExitWindowsEx (the request)"),
              ("gone", "-> Corvamon.exe process ended")]
    print()
    print(f"Corvamon under Wine, serial link on a pseudo-terminal, {len(results)} shutdowns by "
          f"the battery threshold (GuardaOffice=0, ApagaTNX=0); ms from the deciding frame")
    for second, title in ((0, "from upssim's TX stamp:"), (1, "from max(TX stamp, command):")):
        print(title)
        for key, label in labels:
            if key in results[0]:
                print(line(label, [r[key][second] for r in results]))
    if "request" in results[0]:
        print(line("wineboot started -> Corvamon.exe ended",
                   [r["gone"][0] - r["request"][0] for r in results]))
    print(f"(command to upssim -> its TX stamp: median {statistics.median(to_tx):.1f} ms, "
          f"min {min(to_tx):.1f} ms; below -2 ms the two clocks would disagree)")
    return 0


if __name__ == "__main__":
    run_main(main, "run_shutdown_latency")
