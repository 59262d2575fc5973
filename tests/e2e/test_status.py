"""Status frames from the UPS reach the window: through the pseudo-terminal, Wine's serial port,
the frame reader and the decoder."""

from harness import BOX_TITLE, IDS, MAIN_CAPTION, PROBE_NOT_YET

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"MostrarMute": "1", "AlarmaConSonido": "1", "CierraconX": "1"},
}


def wait_label(t, name, want, timeout_ms=10000):
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS[name], want, timeout_ms)
    t.expect(ok, f"{name}: {detail}")
    return ok


def case_frames_reach_window(t):
    sim, program = t.start_on_simulator(INI)

    # Line power at 60 Hz: a period of 16667 us.
    sim.send("every 500")
    sim.send("set volt=14400 period=16667 battery=200 line=0 mode=0")
    sim.send("frame repeat=4")
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "the first frames never showed")
    wait_label(t, "lblop", "Normal")

    # The mains fails: the mode character says the UPS runs on its battery.
    sim.send("frame repeat=4 volt=0 line=1 mode=1 battery=180")
    wait_label(t, "lblop", "Bateria")

    # Back on line power at 50 Hz, the frames now among garbage and one of them in two pieces:
    # the reader has to find them all the same.
    sim.send("set period=20000 mode=0 line=0 noise=7")
    sim.send("split 4 gap=200")
    sim.send("frame")
    sim.send("frame repeat=3")
    wait_label(t, "lblfr", "50.0 Hz")
    wait_label(t, "lblop", "Normal")

    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 500)
    t.expect(rc == PROBE_NOT_YET, f"a message box came while frames arrived: {texts}")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
    t.note(f"upssim: {sim.tx_count()} writes, {len(sim.rx_lines())} RX/CMD lines")
