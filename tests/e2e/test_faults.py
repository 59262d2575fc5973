"""Faults a monitor that runs for weeks meets, each with what the user sees and what is kept:
the log deleted or emptied while Corvamon runs, a program folder nobody may write in, the serial
cable pulled mid-frame and put back, the UPS gone under the turn-off command, and Corvamon's
shortcut clicked again while it runs.

A log held locked (during a failure, and across a shutdown) is in test_events.py
(locked_log_keeps_entries_and_their_time, locked_before_the_first_entry) and test_shutdown.py
(threshold_with_the_log_locked_still_logs_its_decision); Explorer restarting is in
tests/win/systray_test.cpp (ExplorerRestartingPutsTheIconBackAsItWas), and a clock set back in
tests/unit/faults_test.cpp."""

import contextlib
import os
import re
import subprocess
import time

from harness import IDS, MAIN_CAPTION, BOX_TITLE, wait_until
from test_events import (FAILURE, FAILURE_ENTRY, INI, LINE_POWER, RETURN, RETURN_ENTRY,
                         START_ENTRY, check_log, entry, log_text, start_monitor, wait_entries,
                         wait_label)
from test_shutdown import settings, threshold_entry

NOT_WRITABLE = "No pude escribir en Bitacora.txt"
NOT_TOLD = entry("Señal a TNX no enviada ")
AT_THRESHOLD = "frame volt=0 period=16667 battery=155 line=1 mode=1"  # 30.00 %


def case_log_deleted_or_emptied_while_running(t):
    """Corvaset's "Borrar Bitacora" empties the log, or someone deletes it, while Corvamon runs:
    the next entry makes the file again and holds only itself; nothing is written twice."""
    since = time.time()
    sim, program = start_monitor(t)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")

    os.remove(program.event_log)
    sim.send(FAILURE)
    t.require(wait_label(t, "lblop", "Bateria"), "the failure frame did not show")
    t.expect(wait_until(lambda: log_text(program), 5), "the deleted log was not made again")
    check_log(t, program, [FAILURE_ENTRY], since)

    with open(program.event_log, "wb"):
        pass  # emptied, as "Borrar Bitacora" leaves it
    sim.send(RETURN)
    t.expect(wait_until(lambda: log_text(program), 5), "nothing written to the emptied log")
    time.sleep(2.5)  # one TimerBitacora round: nothing waiting may come out a second time
    check_log(t, program, [RETURN_ENTRY], since)


def case_a_folder_nobody_may_write_in(t):
    """The program folder may not be written (made immutable on the Linux side: Wine runs as
    root here, and root writes through read-only attributes and modes). Corvamon reads the UPS,
    says once in its status line that the log cannot be written, and shuts down without waiting
    for a file that never opens."""
    ini = settings({"Bitacora": "1"}, ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1,
                   ApagaTNXMinutos=4)
    sim = t.upssim(stdin_scenario=True)
    t.wine.map_com(1, sim.pty)
    program = t.corvamon(ini)
    rc = subprocess.run(["chattr", "+i", program.folder], capture_output=True, text=True)
    t.require(rc.returncode == 0, f"chattr +i failed: {rc.stderr.strip()}")
    t.stack.callback(subprocess.run, ["chattr", "-i", program.folder])
    probe_file = os.path.join(program.folder, "probe.txt")
    with contextlib.suppress(OSError):
        open(probe_file, "wb").close()
    t.require(not os.path.exists(probe_file), "the folder still takes new files")

    program.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "no frame reached the window")
    t.expect(wait_label(t, "lblmsg", NOT_WRITABLE, 5000), "the log's refusal was not said")
    sim.send(FAILURE)
    t.expect(wait_label(t, "lblop", "Bateria"), "the failure did not show")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")

    sim.send(AT_THRESHOLD)
    decided = time.monotonic()
    took = session.wait(15, "the frame at the threshold")
    # Nobody waits for the file: the 5 s a lock would be given do not apply. The turn-off
    # command's own pause is 1.2 s.
    if took is not None:
        t.note(f"shut down {time.monotonic() - decided:.2f} s after the deciding frame")
        t.expect(took < 4.5, f"the shutdown took {took:.1f} s: it waited for the log")
    commands = wait_until(sim.turnoff_commands, 5, step=0.05)
    t.expect(commands and commands[0][1] == 4, f"the UPS was not told: {sim.rx_lines()}")
    t.expect(log_text(program) is None, "a log in a folder that takes no files")


def case_cable_pulled_mid_frame_and_put_back(t):
    """The cable goes in the middle of a frame (the simulator ends after the first bytes of a
    failure frame) and comes back on the same COM1 (a new simulator behind the same path): the
    status line says "Error en la conexión", the readings come back within 6 s, and the cut
    frame is never read as a power failure."""
    since = time.time()
    link = os.path.join(t.folder, "com1")
    sim = t.upssim(stdin_scenario=True)
    os.symlink(sim.pty, link)
    t.wine.map_com(1, link)
    program = t.corvamon(INI)
    program.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")

    sim.send("split 4 gap=5000")
    sim.send(FAILURE)
    t.require(wait_until(lambda: len(sim.tx_records()) >= 2, 5, step=0.05),
              "the first bytes of the failure frame did not go")
    t.expect_equal(sim.tx_records()[-1][1], b"&&&\x00", "the bytes sent before the cut")
    sim.stop()  # pulled
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblmsg"], "Error en la conexión", 15000)
    t.expect(ok, f"the pulled cable was not reported: {detail}")

    back = t.upssim(stdin_scenario=True)
    os.replace(_new_link(back.pty, t.folder), link)  # put back
    plugged = time.monotonic()
    back.send("frame volt=14400 period=16667 battery=210 line=0 mode=0 repeat=20 interval=500")
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblmsg"], "", 10000)
    t.expect(ok, f"the status line still reads an error: {detail}")
    got = wait_label(t, "lblbat", "93.33 %", 10000)  # battery byte 210 on line power
    took = time.monotonic() - plugged
    t.note(f"readings back {took:.2f} s after the cable was put back")
    t.expect(got and took <= 6.5, f"readings back only {took:.1f} s after the cable")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
    check_log(t, program, [START_ENTRY], since)


def _new_link(target, folder):
    temporary = os.path.join(folder, "com1.new")
    with contextlib.suppress(FileNotFoundError):
        os.remove(temporary)
    os.symlink(target, temporary)
    return temporary


def case_ups_gone_during_the_turn_off_command(t):
    """The UPS's port goes away between the turn-off command's "%" and its minutes: Windows is
    shut down all the same, and the log says the UPS was not told."""
    since = time.time()
    ini = settings(ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1, ApagaTNXMinutos=5)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")

    sim.send(AT_THRESHOLD)
    got_percent = wait_until(lambda: any(b == 0x25 for _, b, _ in sim.rx_records()), 10,
                             step=0.02)
    t.require(got_percent, f"no \"%\" reached the UPS: {sim.rx_lines()}")
    sim.stop()  # gone before the minutes
    session.wait(20, "the frame at the threshold")
    t.expect(not sim.turnoff_commands(), "the minutes reached a UPS that was gone")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY, threshold_entry("30.00 %"), NOT_TOLD],
              since)


def case_a_second_copy_shows_the_first_and_ends(t):
    """Corvamon's shortcut clicked while it runs hidden in the tray: the second copy brings the
    running window to the front and ends at once, with no box, and the first keeps its port,
    its log and its icon."""
    sim = t.upssim(stdin_scenario=True)
    t.wine.map_com(1, sim.pty)
    ini = {"Inicio": dict(INI["Inicio"]), "Prefs": dict(INI["Prefs"], IniciaMin="1")}
    program = t.corvamon(ini)
    program.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000, visible=False) is not None,
              "Corvamon did not start")

    def mains():
        return [w for w in t.probe.windows() if w["title"] == MAIN_CAPTION]

    t.require(wait_until(lambda: mains() and not any(w["visible"] for w in mains()), 15),
              "the window did not hide itself in the tray (IniciaMin=1)")
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")

    second = t.windows_program(program.exe)
    code = second.wait_end(10)
    t.expect_equal(code, 0, "the second copy's exit code (None: still running)")
    shown = wait_until(lambda: [w for w in mains() if w["visible"]], 10)
    t.expect(shown, "the running copy's window did not come to the front")
    t.expect_equal(len({w["pid"] for w in mains()}), 1, "processes with a Corvamon window")
    t.expect_equal(t.probe.message_boxes(BOX_TITLE), [], "message boxes")

    sim.send("frame volt=14400 period=16667 battery=210 line=0 mode=0")
    t.expect(wait_label(t, "lblbat", "93.33 %"), "the first copy lost its port")
    time.sleep(1)
    t.expect_equal(len(re.findall("Inicio de Monitoreo KRD ", log_text(program) or "")), 1,
                   "start entries in the log")
    t.expect(program.running(), f"the first copy ended (exit {program.exit_code()})")
