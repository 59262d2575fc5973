"""Corvamon across a sleep of the computer: Windows' sleep and wake broadcasts sent to its window
(the probe's "power"), the UPS's terminal gone while the computer sleeps and a new one in its
place when it wakes. COM1 points at a link of the case's own, which is turned to the new
terminal, so that no Wine server restart ends Corvamon meanwhile."""

import os
import time

from harness import IDS, MAIN_CAPTION, PROBE_OK, wait_until
from test_events import (FAILURE, FAILURE_ENTRY, INI, LINE_POWER, ON_BATTERY, RETURN, RETURN_ENTRY,
                         START_ENTRY, check_log, entry, wait_entries, wait_label)
from test_shutdown import expect_turnoff, sent_frame_ms, settings, threshold_entry

PBT_APMSUSPEND = 4
PBT_APMRESUMESUSPEND = 7
PBT_APMRESUMEAUTOMATIC = 18


def point_link(link, pty):
    tmp = link + ".new"
    os.symlink(pty, tmp)
    os.replace(tmp, link)


def case_frames_come_again_after_the_wake_with_no_false_event(t):
    since = time.time()
    link = os.path.join(t.folder, "tty")
    sim = t.upssim(stdin_scenario=True)
    point_link(link, sim.pty)
    t.wine.map_com(1, link)
    program = t.corvamon(INI)
    program.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")

    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "no frame before the sleep")
    t.require(wait_entries(t, program, 1), "no start entry")

    rc, _, err = t.probe.call("power", MAIN_CAPTION, PBT_APMSUSPEND)
    t.require(rc == PROBE_OK, f"the sleep notice did not reach the window ({rc}): {err}")
    sim.stop()  # the terminal is gone while the computer sleeps
    said = set()

    def lblmsg():
        text = t.probe.text(MAIN_CAPTION, IDS["lblmsg"])
        if text:
            said.add(text)
        return text

    wait_until(lambda: lblmsg() and False, 2)
    sim2 = t.upssim(stdin_scenario=True)
    point_link(link, sim2.pty)

    woke = time.monotonic()
    rc, _, err = t.probe.call("power", MAIN_CAPTION, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND)
    t.require(rc == PROBE_OK, f"the wake notices did not reach the window ({rc}): {err}")
    sim2.send("frame volt=14400 period=20000 battery=200 line=0 mode=0 repeat=5 interval=300")
    ok = wait_label(t, "lblfr", "50.0 Hz", 6000)
    t.note(f"frames shown {time.monotonic() - woke:.1f} s after the wake notices")
    t.expect(ok, "no frame from the new terminal after the wake")
    lblmsg()
    t.expect_equal(sorted(said), [], "what lblmsg said across the sleep")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
    # The port was opened once at the wake: the frames keep coming, and nothing is logged.
    sim2.send("frame volt=14400 period=16667 battery=200 line=0 mode=0 repeat=3")
    t.expect(wait_label(t, "lblfr", "60.0 Hz"), "frames stopped after the wake")
    check_log(t, program, [START_ENTRY], since)


# ---------------------------------------------------------------- hibernation ([Apaga] Hibernar=1)


def case_a_threshold_shutdown_hibernates_and_the_wake_reads_on(t):
    """Wine's GetPwrCapabilities answers that the computer can hibernate (SystemS4 and a
    hibernation file), and its SetSuspendState answers TRUE without doing anything: the monitor
    has asked and waits for the computer to go down, as it would on Windows until the wake. The
    wake starts it over as a monitor: no new shutdown from the old decision, no false event."""
    since = time.time()
    ini = settings(ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1, ApagaTNXMinutos=5,
                   Hibernar=1)
    sim, program = t.start_on_simulator(ini)
    t.watch_session_end(program)  # should it shut down after all, the session comes back
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg at start")

    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    sim.send(ON_BATTERY)
    wait_label(t, "lblbat", "60.00 %")
    sim.send("frame volt=0 period=16667 battery=155 line=1 mode=1")  # 30.00 %: at it
    t.require(wait_label(t, "lblmsg", "Hibernando la PC"), "no hibernation")
    expect_turnoff(t, sim, 5, sent_frame_ms(sim, "262626 0000 9B 415C 3131"))
    hibernated = [START_ENTRY, FAILURE_ENTRY, threshold_entry("30.00 %"),
                  entry("Hibernacion de la PC ", "Bateria 30.00 %")]
    check_log(t, program, hibernated, since)

    # Frames before the computer is down ask for nothing more.
    sim.send("frame volt=0 period=16667 battery=150 line=1 mode=1")
    wait_label(t, "lblbat", "20.00 %")
    time.sleep(1.5)  # Wine's stub hibernation: nothing to wait for but the time
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
    t.expect_equal(len(sim.turnoff_commands()), 1, "turn-off commands after more frames")

    # The wake, then line power: the monitor reads on, and the log says the wake and the return.
    rc, _, err = t.probe.call("power", MAIN_CAPTION, PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC,
                              PBT_APMRESUMESUSPEND)
    t.require(rc == PROBE_OK, f"the power notices did not reach the window ({rc}): {err}")
    sim.send(RETURN)
    sim.send("frame volt=14400 period=20000 battery=200 line=0 mode=0 repeat=3")
    t.expect(wait_label(t, "lblfr", "50.0 Hz"), "no frames after the wake")
    time.sleep(0.3)
    t.expect(program.running(), f"Corvamon ended after the wake (exit {program.exit_code()})")
    t.expect_equal(len(sim.turnoff_commands()), 1, "turn-off commands after the wake")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg after the wake")
    check_log(t, program, hibernated + [entry("Reanudacion tras hibernar "), RETURN_ENTRY], since)
