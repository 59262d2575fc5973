#!/usr/bin/env python3
"""How long Corvaset's locator takes to find the UPS: from Corvaset's start (the locator opens
before its window) to "Localizado en COM", with the UPS (upssim, a frame every 300 ms) on COM3,
under Wine. Two set-ups for the two ports before it:

  absent   COM1 and COM2 point nowhere Wine can use as a serial port (unmapped, or to a folder):
           they fail to open at once, so COM3 is listened to from the start
  silent   COM1 and COM2 are pseudo-terminals that open and say nothing: each is listened to for
           one Timer2 period (5 s) before the next is tried

Needs the build (scripts/build: dist/x86_64/Corvaset.exe, dist/linux/upssim and the probe in
build/x86_64). From the source folder:

    python3 bench/run_locator_time.py            # 3 runs of each, about two minutes
    python3 bench/run_locator_time.py --runs 5

Prints each run and the median, in seconds. The time includes starting Corvaset under Wine
(about half a second), and is read with the probe (a poll every 50 ms or so).
"""

import os
import statistics
import time

from run_failure_latency import arguments, bench_prefix, harness, run_main

LOCATOR_LABEL1 = 300


def one_run(case, folder_name, silent):
    if silent:
        # The simulator fed no scenario lines: ports that open and never say anything.
        for port in (1, 2):
            case.wine.map_com(port, case.upssim(stdin_scenario=True).pty)
    else:
        not_a_port = os.path.join(case.folder, folder_name + "-no-port")
        os.makedirs(not_a_port, exist_ok=True)
        for port in (1, 2):
            case.wine.map_com(port, not_a_port)
    program = harness.Corvaset(case.paths.corvaset, os.path.join(case.folder, folder_name),
                               case.wine)
    case.stack.callback(program.stop, case.probe)
    started = time.monotonic()
    program.start()
    ok, detail = case.probe.wait_text(harness.LOCATOR_CAPTION, LOCATOR_LABEL1, "Localizado en COM",
                                      60000)
    took = time.monotonic() - started
    program.stop(case.probe)
    if not ok:
        raise harness.CaseFailure(f"the locator did not find the UPS: {detail}")
    return took


def main():
    def extra(parser):
        parser.set_defaults(build_dir=os.path.join(harness.SOURCE_DIR, "build", "bench-locator"))
        parser.add_argument("--runs", type=int, default=3, help="runs of each set-up")
    args = arguments(__doc__.split("\n")[0], extra)
    results = {"absent": [], "silent": []}
    with bench_prefix(args):
        case = harness.Case("bench.locator_time", harness.Paths(args))
        with case.stack:
            sim = case.upssim("--interval", "300")
            case.wine.map_com(3, sim.pty)
            for setup in results:
                for i in range(args.runs):
                    took = one_run(case, f"{setup}{i + 1}", setup == "silent")
                    results[setup].append(took)
                    print(f"  {setup} COM1 and COM2, run {i + 1}: {took:5.2f} s", flush=True)
    print("locator start to \"Localizado en COM\" (UPS on COM3), median of "
          f"{args.runs} runs:")
    for setup, values in results.items():
        print(f"  COM1 and COM2 {setup:6s}: {statistics.median(values):5.2f} s "
              f"(min {min(values):.2f}, max {max(values):.2f})")
    return 0


if __name__ == "__main__":
    run_main(main, "run_locator_time")
