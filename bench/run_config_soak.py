#!/usr/bin/env python3
"""Corvaset's short soak: the locator run again and again in one Corvaset ("Buscar equipo"),
and the window opened and closed again and again at 96, 144 and 192 DPI, with the real
Corvaset.exe under Wine and upssim on COM1. Handles and GDI objects must come out unchanged.

Needs the build (scripts/build: dist/x86_64/Corvaset.exe, dist/linux/upssim, and in
build/x86_64 the probe and bench/soak_counts.exe). From the source folder:

    python3 bench/run_config_soak.py                       # 200 searches, 200 opens
    python3 bench/run_config_soak.py --searches 20 --opens 10

Searches: after two searches to warm up (what the system caches on first use), Corvaset's
handles, GDI objects and USER objects (its windows) are read by soak_counts.exe, then after
every 50 searches and at the end, with its handles by object type. Opens (shared out among
96, 144 and 192 DPI): each Corvaset is counted once its window is up and three readings in a
row agree (a window just shown may still be loading), then closed with Salir; the last quarter
of a DPI's opens must read no higher than the first. Explorer's figures (it holds the desktop
and the notification area) are compared between the first open and the last, read while
Corvaset's window is up, and the wine server's open files between the ends of the two. The
DPI goes back to 96 at the end.

The prefix is made and ended as in bench/run_failure_latency.py (build/bench-config; or
--reuse-prefix). Only the standard library is used.
"""

import os
import sys
import time

from run_failure_latency import arguments, bench_prefix, harness, run_main
from run_soak import handle_types, inside_figures_of

CMD_BUSCA_TNX = 204
LOCATOR_FOUND = 300
SALIR = 104
DPIS = (96, 144, 192)
FIGURES = ("handles", "gdi", "user", "private_kb")
CONFIG_INI = {"Inicio": {"CommPort": "1", "DataString": "&&&10"}}


def wineserver_fds(wine):
    total = 0
    for pid in wine.server_pids():
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            total += len(os.listdir(f"/proc/{pid}/fd"))
        except OSError:
            continue
    return total


def settled_figures(case, counts_exe, exe_name, total=False):
    """The process's figures once three readings in a row agree (a window just shown may still be
    loading its pictures, a thread of its start may still be ending); the last reading after 10
    tries otherwise."""
    time.sleep(1)
    last = inside_figures_of(case.wine, counts_exe, exe_name, total)
    agreeing = 1
    for _ in range(12):
        time.sleep(0.2)
        now = inside_figures_of(case.wine, counts_exe, exe_name, total)
        same = all(now.get(k) == last.get(k) for k in ("handles", "gdi", "user"))
        agreeing = agreeing + 1 if same else 1
        last = now
        if agreeing == 3:
            break
    return last


def settled_server_fds(wine):
    """The wine server's open files once Wine is done with the processes that ended."""
    last = wineserver_fds(wine)
    for _ in range(20):
        time.sleep(0.25)
        now = wineserver_fds(wine)
        if now == last:
            return now
        last = now
    return last


def show(figures):
    return "  ".join(f"{k} {figures.get(k, '-')}" for k in FIGURES)


def search_once(case):
    """Buscar equipo, OK to the question, and the locator finding the UPS and closing."""
    rc, _, err = case.probe.click(harness.CONFIG_CAPTION, CMD_BUSCA_TNX, "--post", "--force")
    if rc != harness.PROBE_OK:
        raise harness.CaseFailure(f"clicking Buscar equipo failed ({rc}): {err}")
    rc, _, err = case.probe.msgbox("Equipo BRAX", 10000, press="OK")
    if rc != harness.PROBE_OK:
        raise harness.CaseFailure(f"no question before the search ({err})")
    if not case.probe.wait_gone(harness.LOCATOR_CAPTION, 30000):
        raise harness.CaseFailure("the locator stayed open 30 s")


def searches(case, counts_exe, runs):
    program = case.corvaset(CONFIG_INI)
    program.start()
    if case.probe.wait_window(harness.CONFIG_CAPTION, 30000) is None:
        raise harness.CaseFailure(f"no Corvaset window: {program.output()!r}")
    for _ in range(2):
        search_once(case)
    before = settled_figures(case, counts_exe, "Corvaset.exe")
    print(f"  after 2 searches:   {show(before)}", flush=True)
    print(f"    handles by type: {handle_types(case.wine, counts_exe, 'Corvaset.exe')}")
    t0 = time.monotonic()
    for i in range(runs):
        search_once(case)
        if (i + 1) % 50 == 0 or i + 1 == runs:
            now = settled_figures(case, counts_exe, "Corvaset.exe")
            print(f"  after {i + 3:3d} searches: {show(now)}", flush=True)
    took = time.monotonic() - t0
    after = settled_figures(case, counts_exe, "Corvaset.exe")
    print(f"    handles by type: {handle_types(case.wine, counts_exe, 'Corvaset.exe')}")
    ended = program.wait_end(0) is not None
    rc, _, err = case.probe.click(harness.CONFIG_CAPTION, SALIR, "--post")
    program.wait_end(20)
    return before, after, took, ended


def opens(case, counts_exe, runs, dpi, explorer_counts):
    case.wine.set_dpi(dpi)
    explorer_before = explorer_after = server_before = None
    seen = []
    for i in range(runs):
        program = harness.Corvaset(case.paths.corvaset,
                                   os.path.join(case.folder, f"open{dpi}"), case.wine)
        program.write_ini(CONFIG_INI)
        case.stack.callback(program.stop, case.probe)
        program.start()
        if case.probe.wait_window(harness.CONFIG_CAPTION, 30000) is None:
            raise harness.CaseFailure(f"no Corvaset window at {dpi} DPI, open {i + 1}")
        seen.append(settled_figures(case, counts_exe, "Corvaset.exe"))
        # Explorer ends soon after the last window of the session: it is counted while
        # Corvaset's window is up.
        if i == 0:
            explorer_before = explorer_counts()
        if i == runs - 1:
            explorer_after = explorer_counts()
        rc, _, err = case.probe.click(harness.CONFIG_CAPTION, SALIR, "--post")
        if rc != harness.PROBE_OK or program.wait_end(20) is None:
            raise harness.CaseFailure(f"Corvaset did not close at {dpi} DPI, open {i + 1}: {err}")
        if i == 0:
            server_before = settled_server_fds(case.wine)
    server_after = settled_server_fds(case.wine)
    return seen, (explorer_before, explorer_after), (server_before, server_after)


def main():
    def extra(parser):
        parser.set_defaults(build_dir=os.path.join(harness.SOURCE_DIR, "build", "bench-config"))
        parser.add_argument("--searches", type=int, default=200)
        parser.add_argument("--opens", type=int, default=200,
                            help="opens in all, shared out among the three DPIs")
    args = arguments(__doc__.split("\n")[0], extra)
    counts_exe = os.path.join(os.path.abspath(args.win_build_dir), "bench", "soak_counts.exe")
    if not os.path.isfile(counts_exe):
        print(f"no {counts_exe}: build the target soak_counts of the Windows tree",
              file=sys.stderr)
        return 2
    # The simulator must outlive the run (about 3 s a search and 8 s an open).
    harness.Upssim.LIFETIME_MS = (args.searches * 10 + args.opens * 30 + 600) * 1000
    ok = True
    with bench_prefix(args):
        case = harness.Case("bench.config_soak", harness.Paths(args))
        with case.stack:
            sim = case.upssim("--interval", "100")
            case.wine.map_com(1, sim.pty)

            def explorer_counts():
                return settled_figures(case, counts_exe, "explorer.exe", total=True)

            print(f"Corvaset: the locator {args.searches} times in one run", flush=True)
            before, after, took, ended = searches(case, counts_exe, args.searches)
            same = all(before.get(k) == after.get(k) for k in ("handles", "gdi", "user"))
            print(f"  {args.searches} searches in {took:.0f} s; handles, GDI and USER objects "
                  f"{'unchanged' if same else 'CHANGED'}; private memory {before.get('private_kb')}"
                  f" -> {after.get('private_kb')} kB{'; Corvaset ENDED' if ended else ''}")
            ok = ok and same and not ended

            try:
                for n, dpi in enumerate(DPIS if args.opens > 0 else ()):
                    runs = args.opens // len(DPIS) + (1 if n < args.opens % len(DPIS) else 0)
                    print(f"Corvaset opened and closed {runs} times at {dpi} DPI", flush=True)
                    seen, explorer, server = opens(case, counts_exe, runs, dpi, explorer_counts)
                    values = {k: sorted({s.get(k, -1) for s in seen}) for k in FIGURES}
                    # Wine's own start-up now and then leaves a handle open a little longer: the
                    # opens must not climb, so the last quarter may read no higher than the first.
                    quarter = max(1, len(seen) // 4)
                    same = all(max(s.get(k, -1) for s in seen[-quarter:]) <=
                               max(s.get(k, -1) for s in seen[:quarter])
                               for k in ("handles", "gdi", "user"))
                    print(f"  first open: {show(seen[0])}")
                    print(f"  last open:  {show(seen[-1])}")
                    print(f"  values seen: handles {values['handles']}, GDI {values['gdi']}, "
                          f"USER {values['user']}: {'no growth' if same else 'GROWTH'}")
                    explorer_same = all(explorer[0].get(k) == explorer[1].get(k)
                                        for k in ("handles", "gdi", "user"))
                    print(f"  Explorer at the first: {show(explorer[0])}")
                    print(f"  Explorer at the last:  {show(explorer[1])}"
                          f"{'' if explorer_same else '  CHANGED'}")
                    print(f"  wine server open files: {server[0]} -> {server[1]}", flush=True)
                    ok = ok and same and explorer_same
            finally:
                case.wine.set_dpi(96)
    return 0 if ok else 1


if __name__ == "__main__":
    run_main(main, "run_config_soak")
