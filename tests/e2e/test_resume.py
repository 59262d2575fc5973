"""Corvamon across a sleep of the computer: Windows' sleep and wake broadcasts sent to its window
(the probe's "power"), the UPS's terminal gone while the computer sleeps and a new one in its
place when it wakes. COM1 points at a link of the case's own, which is turned to the new
terminal, so that no Wine server restart ends Corvamon meanwhile."""

import os
import time

from harness import IDS, MAIN_CAPTION, PROBE_OK, wait_until
from test_events import INI, LINE_POWER, START_ENTRY, check_log, wait_entries, wait_label

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
