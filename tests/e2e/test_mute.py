"""The mute button: it switches the alarm sound and keeps the choice in Corvamon.ini."""

from harness import IDS, MAIN_CAPTION, PROBE_OK, wait_until

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"MostrarMute": "1", "AlarmaConSonido": "1", "CierraconX": "1"},
}


def sound_setting(program):
    return program.read_ini().get("prefs", {}).get("alarmaconsonido")


def case_mute_toggles_sound(t):
    _, program = t.start_on_simulator(INI)
    controls = t.probe.texts(MAIN_CAPTION)
    # MostrarTest is not in the file: it reads as 0 and hides the test button.
    t.expect_equal(controls.get(IDS["IBTest"], (None, None))[1], False, "IBTest shown")
    for click, want in enumerate(["0", "1", "0"], start=1):
        rc, _, err = t.probe.click(MAIN_CAPTION, IDS["IBMute"])
        t.require(rc == PROBE_OK, f"click {click} on IBMute failed ({rc}): {err}")
        got = wait_until(lambda w=want: sound_setting(program) == w, 5)
        t.expect(got, f"after click {click} AlarmaConSonido is {sound_setting(program)!r}, "
                      f"expected {want!r}")
    # The rest of the file is left as it was.
    ini = program.read_ini()
    t.expect_equal(ini.get("inicio", {}).get("datastring"), "&&&10", "[Inicio] DataString")
    t.expect_equal(ini.get("prefs", {}).get("mostrarmute"), "1", "[Prefs] MostrarMute")
    t.expect_equal(ini.get("prefs", {}).get("cierraconx"), "1", "[Prefs] CierraconX")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


def case_buttons_follow_prefs(t):
    # MostrarMute hides the mute button unless it is 1; MostrarTest shows the test button
    # unless it is 0. The other case has them the other way round.
    ini = {"Inicio": dict(INI["Inicio"]),
           "Prefs": dict(INI["Prefs"], MostrarMute="0", MostrarTest="1")}
    _, program = t.start_on_simulator(ini)
    controls = t.probe.texts(MAIN_CAPTION)
    for name, shown in (("IBMute", False), ("IBTest", True), ("IBClose", True), ("IBMin", True)):
        got = controls.get(IDS[name])
        if t.expect(got is not None, f"no control {name} ({IDS[name]})"):
            t.expect_equal(got[1], shown, f"{name} shown")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")
