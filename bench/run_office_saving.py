#!/usr/bin/env python3
"""How much time saving Office documents adds to a shutdown: from upssim writing the battery
frame that crosses the threshold to the UPS receiving the turn-off "%", with the real
Corvamon.exe under Wine (GuardaOffice=1, ApagaTNX=1), once with the stand-in Office running
(tests/office_standin: three Word documents, one Publisher document, a PowerPoint presentation
from a web address, two Excel instances, each instance with an owned dialog) and once with no
Office running.

Needs the build (scripts/build: dist/x86_64/Corvamon.exe, dist/linux/upssim, and the probe and
the stand-in in build/x86_64; CORVA_EXE and CORVA_UPSSIM name other copies). From the source
folder:

    python3 bench/run_office_saving.py              # 5 shutdowns of each kind, about 2 minutes
    python3 bench/run_office_saving.py --runs 10

By default it makes a Wine prefix and an Xvfb of its own in build/bench-office and ends them
afterwards; --reuse-prefix uses the prefix already in --build-dir. Each run is one Corvamon in a
fresh folder, taken on battery and then given the deciding frame, as tests/e2e/test_office.py
does; the Wine session that the shutdown ends is started again between runs.

Prints median, min and max in seconds. Only the standard library is used.
"""

import os
import statistics
import sys

from run_failure_latency import arguments, bench_prefix, harness, run_main

sys.path.insert(0, os.path.join(harness.SOURCE_DIR, "tests", "e2e"))
import test_office  # noqa: E402  (found through the path above)


def documents(folder):
    docs = os.path.join(folder, "Documentos")
    os.makedirs(docs, exist_ok=True)
    path = lambda name: harness.windows_path(os.path.join(docs, name))  # noqa: E731
    return [
        ("Word", "1", "Documento1", "Documento1"),
        ("Word", "1", "Carta.doc", path("Carta.doc")),
        ("Word", "1", "Documento3", "Documento3"),
        ("Publisher", "1", "Boletín.pub", path("Boletín.pub")),
        ("PowerPoint", "1", "informe.ppt", "http://servidor/informe.ppt"),
        ("Excel", "1", "Libro1", "Libro1"),
        ("Excel", "2", "Cuentas.xls", path("Cuentas.xls")),
    ]


def one_run(args, name, with_office):
    """One shutdown; answers the seconds from the deciding frame to the "%"."""
    case = harness.Case(name, harness.Paths(args))
    with case.stack:
        save_dir = os.path.join(case.folder, "Guardar")
        os.makedirs(save_dir)
        ini = test_office.office_ini(save_dir)
        if with_office:
            sim, _, _, session = test_office.on_battery_at_threshold(
                case, ini, documents(case.folder))
        else:
            sim, program = test_office.start_monitor(case, ini)
            session = case.watch_session_end(program)
            sim.send(test_office.LINE_POWER)
            case.require(test_office.wait_entries(case, program, 1), "no start entry")
            sim.send(test_office.FAILURE)
            case.require(test_office.wait_entries(case, program, 2), "no failure entry")
        sim.send(test_office.THRESHOLD_FRAME)
        session.wait(60, "the deciding frame")
        harness.wait_until(sim.rx_records, 5, step=0.05)
        delay = test_office.turnoff_delay(case, sim)
        if case.failures or delay is None:
            raise harness.CaseFailure(f"{name}: {case.failures or 'no turn-off to measure'}")
        return delay


def line(label, values):
    return (f"  {label:<28} median {statistics.median(values):6.2f}   min {min(values):6.2f}"
            f"   max {max(values):6.2f}")


def main():
    def extra(parser):
        parser.set_defaults(build_dir=os.path.join(harness.SOURCE_DIR, "build", "bench-office"))
        parser.add_argument("--runs", type=int, default=5, help="shutdowns of each kind")
    args = arguments(__doc__.split("\n")[0], extra)
    figures = {True: [], False: []}
    with bench_prefix(args):
        for i in range(args.runs):
            for with_office in (True, False):
                kind = "office" if with_office else "none"
                delay = one_run(args, f"bench.office_saving.{kind}{i + 1:02d}", with_office)
                figures[with_office].append(delay)
                print(f"  run {i + 1:2d} {kind:<6}: {delay:6.2f} s", flush=True)
    print()
    print("Corvamon under Wine, threshold shutdown with GuardaOffice=1 and ApagaTNX=1; seconds "
          "from the deciding frame to the UPS's \"%\":")
    print(line("stand-in Office, 7 documents", figures[True]))
    print(line("no Office running", figures[False]))
    print(line("what the documents add", [a - b for a, b in zip(figures[True], figures[False])]))
    return 0


if __name__ == "__main__":
    run_main(main, "run_office_saving")
