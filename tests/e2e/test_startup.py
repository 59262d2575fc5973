"""Start-up of the monitor: no usable serial port, and a UPS on COM1."""

import os

from harness import (BOX_TITLE, IDS, MAIN_CAPTION, PROBE_NOT_YET, PROBE_OK, CaseFailure,
                     wait_until)

SW_SHOWNOACTIVATE = 4

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"MostrarMute": "1", "AlarmaConSonido": "1", "CierraconX": "1"},
}
NOT_FOUND = "No encontré el equipo KRD\r\nERROR en la conexión"
CONNECTION_ERROR = "Error en la conexión"

# What the labels read before any status came in.
DESIGN_CAPTIONS = {
    "lblvolt": "0 Volts",
    "lblfr": "0 Hz",
    "lblbat": "0 %",
    "lblop": " Normal",
    "lblidenti": "Autoprueba",
    "lbltit0": "Salida",
    "lbltit1": "Frecuencia",
    "lbltit2": "Línea",
}


def expect_single_not_found_box(t, program):
    """The box saying the UPS is not there comes once; after OK the window says why."""
    rc, texts, err = t.probe.msgbox(BOX_TITLE, 30000)
    t.require(rc == PROBE_OK, f"no message box titled {BOX_TITLE!r} within 30 s ({err})")
    t.expect_equal(texts, [NOT_FOUND], "the message box's text")
    t.expect_equal(len(t.probe.message_boxes(BOX_TITLE)), 1, "message boxes open at once")

    rc, _, err = t.probe.msgbox(BOX_TITLE, 5000, press="OK")
    t.require(rc == PROBE_OK, f"pressing OK on the box failed ({err})")
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblmsg"], CONNECTION_ERROR, 15000)
    t.expect(ok, f"lblmsg after OK: {detail}")

    # A second box would come right after the first one closed; give it a moment to show.
    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 3000)
    t.expect(rc == PROBE_NOT_YET, f"another message box came after OK: {texts}")
    t.expect(t.probe.wait_window(MAIN_CAPTION, 5000) is not None,
             "the main window is not shown after OK")
    t.expect(program.running(), f"Corvamon ended after OK (exit {program.exit_code()})")


def case_no_port(t):
    # A folder where COM1 should be: opening it fails (access denied), as for a port that is
    # missing or taken.
    not_a_port = os.path.join(t.folder, "no-port")
    os.makedirs(not_a_port)
    t.wine.map_com(1, not_a_port)
    program = t.corvamon(INI)
    program.start()
    expect_single_not_found_box(t, program)


def case_port_not_serial(t):
    # /dev/null opens, but no serial settings can be read or written on it.
    t.wine.map_com(1, "/dev/null")
    program = t.corvamon(INI)
    program.start()
    expect_single_not_found_box(t, program)


def port_held_open(t, program, device):
    """Whether the program (or the wine server on its behalf) has the device open."""
    real = os.path.realpath(device)
    if real in program.open_files():
        return True
    for pid in t.wine.server_pids():
        fd_dir = f"/proc/{pid}/fd"
        try:
            fds = os.listdir(fd_dir)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(os.path.join(fd_dir, fd)) == real:
                    return True
            except OSError:
                pass
    return False


def case_with_simulator(t):
    # The UPS stays silent until told, so that the labels still show what they show before any
    # status arrives.
    sim, program = t.start_on_simulator(INI)
    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 3000)
    t.expect(rc == PROBE_NOT_YET, f"a message box came although COM1 works: {texts}")

    controls = t.probe.texts(MAIN_CAPTION)
    for name, want in DESIGN_CAPTIONS.items():
        got = controls.get(IDS[name])
        t.expect(got is not None, f"no control {name} ({IDS[name]})")
        if got:
            t.expect_equal(got[2], want, f"{name} text")
            # lblidenti only shows while a self-test is on its way; the rest are always shown.
            if name != "lblidenti":
                t.expect(got[1], f"{name} is hidden")
    t.expect_equal(controls.get(IDS["lblmsg"], (None, None, None))[2], "", "lblmsg text")
    t.expect(port_held_open(t, program, sim.pty), f"nobody holds {sim.pty} open: COM1 not opened")

    # Frames on the line: the monitor keeps running and reports no error.
    sim.send("every 300")
    sim.send("frame repeat=5")
    t.expect(wait_until(lambda: sim.tx_count() >= 5, 15),
             f"upssim sent {sim.tx_count()} of 5 frames")
    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 1000)
    t.expect(rc == PROBE_NOT_YET, f"a message box came while frames arrived: {texts}")
    t.expect(program.running(), f"Corvamon ended while frames arrived (exit {program.exit_code()})")
    t.expect(t.probe.wait_window(MAIN_CAPTION, 2000) is not None, "the main window went away")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg after frames")
    t.note(f"upssim: {sim.tx_count()} frames sent, {len(sim.rx_lines())} RX/CMD lines received")


def case_started_shown_but_not_activated(t):
    """The start-up shortcut runs Corvamon shown but not activated. Its first activation must
    run all the same: the tray icon is put in place and IniciaMin hides the window in it."""
    sim = t.upssim(stdin_scenario=True)
    t.wine.map_com(1, sim.pty)
    ini = {"Inicio": dict(INI["Inicio"]), "Prefs": dict(INI["Prefs"], IniciaMin="1")}
    program = t.corvamon(ini)
    program.start(launcher=t.paths.probe, show=SW_SHOWNOACTIVATE)
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000, visible=False) is not None,
              f"no window \"{MAIN_CAPTION}\" within 30 s: {program.output()!r}")

    def hidden():
        try:
            windows = t.probe.windows()
        except CaseFailure:
            return False  # a probe that could not look this time: look again
        mains = [w for w in windows if w["title"] == MAIN_CAPTION]
        return bool(mains) and not any(w["visible"] for w in mains)
    t.expect(wait_until(hidden, 15), "the window did not hide itself in the tray (IniciaMin=1)")

    # The icon is there and hooked: its double-click brings the window back.
    rc, _, err = t.probe.call("tray-dblclick", MAIN_CAPTION)
    t.require(rc == PROBE_OK, f"probe tray-dblclick failed ({rc}): {err}")
    t.expect(t.probe.wait_window(MAIN_CAPTION, 10000) is not None,
             "a double-click on the tray icon did not bring the window back")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


def case_first_run_without_data_string_reads_the_ups(t):
    """A first install whose settings name no frame kind (no Corvamon.ini at all, or the
    DataString=0 Corvaset writes when it found the UPS on USB): the hint shows until the first
    header says the kind, and from then on every frame is read."""
    for kind, ini in (("amp", None), ("star", {"Inicio": {"DataString": "0"}})):
        sim, program = t.start_on_simulator(ini, sim_args=("--kind", kind))
        ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblmsg"],
                                       "Revise DataString en Corvamon.ini", 15000)
        t.expect(ok, f"{kind}: the hint at start: {detail}")
        sim.send("frame battery=215 line=0 mode=0 repeat=2")
        ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblbat"], "100.00 %", 15000)
        t.expect(ok, f"{kind}: no frame was read: {detail}")
        t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", f"{kind}: lblmsg once read")
        sim.send("frame battery=190 line=1 mode=1")
        ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblop"], "Bateria", 15000)
        t.expect(ok, f"{kind}: the failure frame after the first: {detail}")
        # The kind learned is the run's own: the settings file stays as it was.
        if ini is None:
            t.expect(not os.path.exists(program.ini), f"{kind}: a Corvamon.ini was written")
        else:
            t.expect_equal(program.read_ini().get("inicio", {}).get("datastring"), "0",
                           f"{kind}: DataString after the run")
        program.stop(t.probe)
        sim.stop()
