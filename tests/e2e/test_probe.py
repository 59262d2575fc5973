"""The probe itself, against probe_target.exe: a window whose contents are known."""

from harness import (PROBE_NO_ANSWER, PROBE_NOT_CLICKABLE, PROBE_NOT_FOUND, PROBE_NOT_YET,
                     PROBE_OK, PROBE_USAGE)

CAPTION = "Corvaprobe"
BOX_TEXT = "Primera línea\r\nSegunda línea"


def start_target(t, *args):
    target = t.windows_program(t.paths.probe_target, *args, caption=CAPTION)
    t.require(t.probe.wait_window(CAPTION, 30000) is not None,
              f"probe_target's window did not show ({target.log})")
    return target


def case_texts(t):
    start_target(t)
    controls = t.probe.texts(CAPTION)
    expected = {
        201: ("Static", True, "Línea ñandú €"),
        202: ("Static", True, "uno\r\ndos\ttres\\"),
        203: ("Static", True, "0"),
        204: ("Static", True, ""),
        210: ("Button", True, "Contar"),
        211: ("Button", False, "Oculto"),
        212: ("Button", True, "Apagado"),
    }
    for control_id, want in expected.items():
        got = controls.get(control_id)
        if t.expect(got is not None, f"control {control_id} missing from texts"):
            t.expect_equal((got[0].lower(), got[1], got[2]), (want[0].lower(), want[1], want[2]),
                           f"control {control_id}")
    t.expect_equal(t.probe.text(CAPTION, 201), "Línea ñandú €", "text 201")
    # Texts given on the command line: UTF-8 and the escapes arrive as the window has them.
    ok, detail = t.probe.wait_text(CAPTION, 202, "uno\r\ndos\ttres\\", 2000)
    t.expect(ok, f"wait-text with escapes: {detail}")
    ok, detail = t.probe.wait_text(CAPTION, 201, "Línea ñandú €", 2000)
    t.expect(ok, f"wait-text with accents: {detail}")
    ok, detail = t.probe.wait_text(CAPTION, 203, "7", 300)
    t.expect(not ok and "reads \"0\"" in detail, f"wait-text for a text that never comes: {detail}")
    rc, _, _ = t.probe.call("text", CAPTION, 999)
    t.expect_equal(rc, PROBE_NOT_FOUND, "text of a missing control")
    rc, _, _ = t.probe.call("texts", "No such window", 300)
    t.expect_equal(rc, PROBE_NOT_FOUND, "texts of a missing window")
    rc, _, _ = t.probe.call("text", CAPTION, "abc")
    t.expect_equal(rc, PROBE_USAGE, "a control id that is no number")


def case_click(t):
    start_target(t)
    rc, _, err = t.probe.click(CAPTION, 210)
    t.expect_equal(rc, PROBE_OK, f"click on a visible button ({err})")
    # Sent, not posted: the handler has run when the probe returns.
    t.expect_equal(t.probe.text(CAPTION, 203), "1", "count after one click")
    rc, _, _ = t.probe.click(CAPTION, 210, "--post")
    t.expect_equal(rc, PROBE_OK, "posted click")
    ok, detail = t.probe.wait_text(CAPTION, 203, "2", 5000)
    t.expect(ok, f"count after the posted click: {detail}")
    for control_id, what in ((211, "hidden"), (212, "disabled")):
        rc, _, err = t.probe.click(CAPTION, control_id)
        t.expect_equal(rc, PROBE_NOT_CLICKABLE, f"click on the {what} button ({err})")
    t.expect_equal(t.probe.text(CAPTION, 203), "2", "count after refused clicks")
    rc, _, _ = t.probe.click(CAPTION, 211, "--force")
    t.expect_equal(rc, PROBE_OK, "forced click on the hidden button")
    t.expect_equal(t.probe.text(CAPTION, 203), "3", "count after the forced click")


def case_startup_box(t):
    t.windows_program(t.paths.probe_target, "--startup-box", caption=CAPTION)
    rc, texts, err = t.probe.msgbox(CAPTION, 30000)
    t.require(rc == PROBE_OK, f"no message box ({err})")
    t.expect_equal(texts, [BOX_TEXT], "box text, CR LF kept")
    t.expect_equal(len(t.probe.message_boxes(CAPTION)), 1, "boxes open")
    rc, _, err = t.probe.msgbox(CAPTION, 5000, press="OK")
    t.require(rc == PROBE_OK, f"pressing OK ({err})")
    t.expect_equal(t.probe.message_boxes(CAPTION), [], "boxes open after OK")
    # Only then does the target make its window.
    t.require(t.probe.wait_window(CAPTION, 15000) is not None, "no window after the box")

    # A box opened from the window: Cancel is pressed, and the window learns it.
    rc, _, _ = t.probe.click(CAPTION, 213, "--post")
    t.expect_equal(rc, PROBE_OK, "click that opens a box")
    rc, texts, err = t.probe.msgbox(CAPTION, 15000, press="cancel")
    t.expect_equal((rc, texts), (PROBE_OK, [BOX_TEXT]), f"box from the window ({err})")
    ok, detail = t.probe.wait_text(CAPTION, 204, "Cancel", 5000)
    t.expect(ok, f"the window's record of the answer: {detail}")
    rc, _, _ = t.probe.msgbox(CAPTION, 500, press="OK")
    t.expect_equal(rc, PROBE_NOT_YET, "msgbox when no box is open")


def case_hung_target(t):
    target = start_target(t)
    rc, _, _ = t.probe.click(CAPTION, 214, "--post")
    t.require(rc == PROBE_OK, "the click that hangs the target")
    # The target sleeps 15 s in its click handler; the probe must give up, not wait.
    rc, _, err = t.probe.call("texts", CAPTION, 1000, timeout=12)
    t.expect_equal(rc, PROBE_NO_ANSWER, f"texts of a hung window ({err})")
    rc, _, err = t.probe.call("text", CAPTION, 201, 1000, timeout=12)
    t.expect_equal(rc, PROBE_NO_ANSWER, f"text of a hung window ({err})")
    # Window titles come without asking the target.
    t.expect(t.probe.wait_window(CAPTION, 1000) is not None, "wait-window on a hung window")
    target.stop(t.probe)
    t.expect(not target.running(), "the target still runs after stop")


def case_close_and_gone(t):
    start_target(t)
    rc, _, err = t.probe.call("rect", CAPTION)
    t.expect_equal(rc, PROBE_OK, f"rect ({err})")
    t.expect_equal(t.probe.rect(CAPTION), (40, 40, 240, 270), "the target's rectangle")
    t.expect(not t.probe.wait_gone(CAPTION, 300), "wait-gone while the window is there")
    rc, _, _ = t.probe.click(CAPTION, 215, "--post")
    t.expect_equal(rc, PROBE_OK, "click on the close button")
    t.expect(t.probe.wait_gone(CAPTION, 15000), "the window did not go")
    t.expect(t.probe.wait_window(CAPTION, 200, visible=False) is None,
             "wait-window found a window that is gone")
    rc, _, _ = t.probe.call("close", CAPTION, 1000)
    t.expect_equal(rc, PROBE_NOT_FOUND, "close of a window that is gone")
