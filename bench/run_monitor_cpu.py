#!/usr/bin/env python3
"""Corvamon's CPU time while it follows a UPS: 60 s of status frames at one a second, with the
real Corvamon.exe under Wine. The wine server's CPU over the same time is printed for context,
and so is the rest of the prefix (explorer.exe, services and the like).

Needs the build (scripts/build: dist/x86_64/Corvamon.exe, dist/linux/upssim and the probe in
build/x86_64). From the source folder:

    python3 bench/run_monitor_cpu.py                     # 3 x 60 s of frames, about 4 minutes
    python3 bench/run_monitor_cpu.py --seconds 120 --idle-seconds 30

Three measurements of --seconds each: line-power frames with the window shown, then hidden in
the tray (the minimise button, as a user hides it), then on-battery frames, whose charge each
frame also gives to the tray icon's tip (the failure brings the window back, as set up).
--idle-seconds N measures N seconds with the port open and no frames first. The prefix is made
and ended as in bench/run_failure_latency.py (build/bench; --reuse-prefix to use one that runs).

CPU time is utime + stime from /proc/PID/stat (all threads), in clock ticks of
1/SC_CLK_TCK s (10 ms here), read before and after; the Corvamon process is the one of this
prefix whose command line holds Corvamon.exe. Only the standard library is used.
"""

import os
import sys
import time

from run_failure_latency import (INI, LINE_POWER, Session, arguments, harness,
                                 run_main)

# Charge 60 % on battery, the same in every frame.
ON_BATTERY = "frame volt=0 period=16667 battery=170 line=1 mode=1"

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of a process, in seconds; None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read().decode()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()  # the name may hold spaces and parentheses
    return (int(fields[11]) + int(fields[12])) / TICK  # fields 14 and 15 of the whole line


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace")
    except OSError:
        return ""


def process_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return ""


def prefix_processes(wine):
    """{pid: role} of this prefix's processes: "corvamon", "wineserver" or "other"."""
    roles = {}
    for pid in wine.server_pids():
        if "Corvamon.exe" in command_line(pid):
            roles[pid] = "corvamon"
        elif process_name(pid).startswith("wineserver"):
            roles[pid] = "wineserver"
        else:
            roles[pid] = "other"
    return roles


def measure(wine, seconds):
    """CPU seconds per role over `seconds` of wall time, and the wall time itself."""
    roles = prefix_processes(wine)
    if list(roles.values()).count("corvamon") != 1:
        raise harness.CaseFailure(f"not one Corvamon.exe process in the prefix: {roles}")
    before = {pid: cpu_seconds(pid) for pid in roles}
    t0 = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - t0
    used = {"corvamon": 0.0, "wineserver": 0.0, "other": 0.0}
    for pid, role in roles.items():
        after = cpu_seconds(pid)
        if after is None or before[pid] is None:
            if role == "corvamon":
                raise harness.CaseFailure("Corvamon.exe ended while it was measured")
            continue
        used[role] += after - before[pid]
    return used, wall, roles


def report(title, used, wall, frames, roles):
    pids = {role: [pid for pid, r in roles.items() if r == role] for role in set(roles.values())}
    print(f"{title}: {wall:.1f} s, {frames} frames sent (Corvamon.exe pid {pids['corvamon'][0]}, "
          f"wine server pid {', '.join(map(str, pids.get('wineserver', []))) or 'none found'})")
    for role, label in (("corvamon", "Corvamon.exe"), ("wineserver", "wine server"),
                        ("other", "other Wine processes of the prefix")):
        print(f"  {label:<36} {used[role] * 1000:8.0f} ms CPU   "
              f"{used[role] / wall * 100:6.2f} % of one core")


def main():
    def extra(parser):
        parser.add_argument("--seconds", type=float, default=60)
        parser.add_argument("--idle-seconds", type=float, default=0)
    args = arguments(__doc__.split("\n")[0], extra)
    with Session(args, "bench.monitor_cpu", INI) as s:
        # The first frame writes the start entry; let the monitor settle after it.
        s.sim.send("every 1000")
        s.sim.send(LINE_POWER)
        if not harness.wait_until(lambda: os.path.exists(s.program.event_log), 10):
            raise harness.CaseFailure("the first frame wrote no start entry")
        time.sleep(3)
        if args.idle_seconds > 0:
            sent = s.sim.tx_count()
            used, wall, roles = measure(s.case.wine, args.idle_seconds)
            report("port open, no frames", used, wall, s.sim.tx_count() - sent, roles)
        for title, frame, hide in (("frames at one a second, window shown", LINE_POWER, False),
                                   ("frames at one a second, window hidden in the tray",
                                    LINE_POWER, True),
                                   ("on-battery frames at one a second (the window comes back "
                                    "on the failure)", ON_BATTERY, False)):
            if hide:
                rc, _, err = s.case.probe.click(harness.MAIN_CAPTION, harness.IDS["IBMin"], "--post")
                hidden = harness.wait_until(lambda: not any(
                    w["title"] == harness.MAIN_CAPTION and w["visible"]
                    for w in s.case.probe.windows()), 10)
                if rc != harness.PROBE_OK or not hidden:
                    raise harness.CaseFailure(f"the window did not go to the tray: {err}")
            # Frames go on a little past the measurement on both sides.
            s.sim.send(f"{frame} repeat={int(args.seconds) + 10}")
            time.sleep(2)
            sent = s.sim.tx_count()
            used, wall, roles = measure(s.case.wine, args.seconds)
            frames = s.sim.tx_count() - sent
            report(title, used, wall, frames, roles)
            # The window followed the frames (the labels are read also while it is hidden).
            want = "125.4 Volts" if frame == LINE_POWER else "Monitoreando Equipo"
            ok, detail = s.case.probe.wait_text(harness.MAIN_CAPTION, harness.IDS["lblvolt"],
                                                want, 15000)
            if not ok or not s.program.running():
                print(f"Corvamon did not follow the frames: {detail}", file=sys.stderr)
                return 1
            # Let the last frames of this measurement go before the next one's.
            harness.wait_until(lambda: s.sim.tx_count() >= sent + frames + 10, 15)
    return 0


if __name__ == "__main__":
    run_main(main, "run_monitor_cpu")
