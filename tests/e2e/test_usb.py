"""The USB link at start-up: Corvamon looks for its UPS among the HID devices first. Wine has HID
devices (its own mouse and keyboard) but none that says "Corvamon", so the monitor takes the
serial link, and the commands that only the USB link carries go nowhere, quietly."""

from harness import BOX_TITLE, IDS, MAIN_CAPTION, PROBE_NOT_YET, PROBE_OK, wait_until

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"MostrarMute": "1", "AlarmaConSonido": "1", "CierraconX": "1", "MostrarTest": "1"},
}


def dialog_boxes(t):
    """Titles of the dialog boxes on the screen: a device error shows one with the default
    caption, not "Corvamon"."""
    return [w["title"] for w in t.probe.windows() if w["cls"] == "#32770" and w["visible"]]


def sound_setting(program):
    return program.read_ini().get("prefs", {}).get("alarmaconsonido")


def case_no_usb_device_falls_back_to_serial(t):
    sim, program = t.start_on_simulator(INI)

    # No device error box ("Could not attach to PnP node") and no "not found" box: the search
    # came back empty and COM1 opened.
    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 3000)
    t.expect(rc == PROBE_NOT_YET, f"a message box came at start: {texts}")
    t.expect_equal(dialog_boxes(t), [], "dialog boxes open")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg at start")

    # The serial link works: a status frame shows.
    sim.send("set volt=14400 period=16667 battery=200 line=0 mode=0")
    sim.send("frame repeat=2")
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblfr"], "60.0 Hz", 15000)
    t.require(ok, f"no frame reached the window over COM1: {detail}")
    received_before = len(sim.rx_lines())

    # The alarm switch goes out as a USB report, and there is no device: nothing reaches the UPS
    # on the serial line, nothing is said, and the switch itself is kept.
    for click, want in enumerate(["0", "1"], start=1):
        rc, _, err = t.probe.click(MAIN_CAPTION, IDS["IBMute"])
        t.require(rc == PROBE_OK, f"click {click} on IBMute failed ({rc}): {err}")
        t.expect(wait_until(lambda w=want: sound_setting(program) == w, 5),
                 f"after click {click} AlarmaConSonido is {sound_setting(program)!r}, "
                 f"expected {want!r}")
    rc, texts, _ = t.probe.msgbox(BOX_TITLE, 2000)
    t.expect(rc == PROBE_NOT_YET, f"a message box came after the clicks: {texts}")
    t.expect_equal(dialog_boxes(t), [], "dialog boxes open after the clicks")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), "", "lblmsg after the clicks")
    t.expect_equal(sim.rx_lines()[received_before:], [], "bytes the UPS received after the clicks")
    t.expect_equal(sim.rx_lines(), [], "bytes the UPS received at all")

    # And the monitor goes on reading the serial link.
    sim.send("frame repeat=2 period=20000")
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS["lblfr"], "50.0 Hz", 15000)
    t.expect(ok, f"frames stopped after the clicks: {detail}")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
