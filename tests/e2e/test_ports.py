"""The monitor on the COM port its settings name (the one Corvaset's locator found): frames
from upssim on COM3 with COM1 unusable, and the turn-off command sent back to COM3."""

import os
import time

from harness import IDS, MAIN_CAPTION
from test_events import FAILURE, LINE_POWER, wait_label
from test_shutdown import expect_turnoff, sent_frame_ms, settings


def case_com3_from_the_settings_takes_frames_and_the_turn_off(t):
    # COM1 cannot be opened at all (a folder where the port should be).
    not_a_port = os.path.join(t.folder, "no-port")
    os.makedirs(not_a_port)
    t.wine.map_com(1, not_a_port)
    sim = t.upssim(stdin_scenario=True)
    t.wine.map_com(3, sim.pty)
    t.stack.callback(t.wine.unmap_com, 3)

    ini = settings(ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1, ApagaTNXMinutos=7)
    ini["Inicio"]["CommPort"] = "3"
    program = t.corvamon(ini)
    program.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")
    session = t.watch_session_end(program)

    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "no frame from COM3 reached the window")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg (no connection error)")
    sim.send(FAILURE)
    wait_label(t, "lblop", "Bateria")
    time.sleep(0.2)
    sim.send("frame volt=0 period=16667 battery=155 line=1 mode=1")  # 30.00 %: shut down
    session.wait(15, "the frame at the threshold")
    expect_turnoff(t, sim, 7, sent_frame_ms(sim, "262626 0000 9B 415C 3131"))


def case_a_serial_device_that_goes_away_is_reported(t):
    """The far end of the cable goes away (upssim ends, as a pulled USB-serial adapter would):
    the window says the connection failed instead of showing the last readings for good."""
    sim, program = t.start_on_simulator(
        {"Inicio": {"DataString": "&&&10"}, "Prefs": {"CierraconX": "1"}})
    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "no frame reached the window")
    sim.stop()
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblmsg"], "Error en la conexión", 15000)
    t.expect(ok, f"the lost device was not reported: {detail}")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
