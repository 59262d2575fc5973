"""The skinned windows on high-DPI screens: at 96, 144 and 192 DPI (100 %, 150 %, 200 %) Corvamon's
window, Corvaset's window and its locator are 1, 1.5 and 2 times their 96-DPI size, every child
window keeps its place scaled the same, and all of them stay inside the skin.

Wine takes the DPI from the prefix's LogPixels when its server starts; the case puts it back to 96
when it ends, passed or failed, so the cases after it run at 100 %."""

import contextlib
import os

from harness import (CONFIG_CAPTION, LOCATOR_CAPTION, MAIN_CAPTION, SOURCE_DIR, client_screenshot,
                     picture_difference)

DPIS = (96, 144, 192)
TOLERANCE = 2  # pixels: places are scaled and rounded one by one

INI = {"Inicio": {"DataString": "&&&10"}, "Prefs": {"MostrarMute": "1", "MostrarTest": "1"}}
CONFIG_INI = {"Inicio": {"CommPort": "1", "DataString": "&&&10"}}

# Client sizes at 96 DPI: the skins (Corvamon's is trimmed by 15 twips), the locator's
# 3045 x 690 twips.
BASE_CLIENT = {MAIN_CAPTION: (400, 259), CONFIG_CAPTION: (590, 432), LOCATOR_CAPTION: (203, 46)}


def near(got, want):
    return abs(got - want) <= TOLERANCE


def measure(t, caption, dpi):
    """The window's layout, checked: its client size scaled, every child inside it."""
    layout = t.probe.layout(caption)
    t.require(layout is not None, f"no layout of \"{caption}\" at {dpi} DPI")
    cw, ch, children = layout
    factor = dpi / 96
    bw, bh = BASE_CLIENT[caption]
    t.expect(near(cw, bw * factor) and near(ch, bh * factor),
             f"\"{caption}\" at {dpi} DPI: client {cw} x {ch}, expected about "
             f"{bw * factor:.0f} x {bh * factor:.0f}")
    t.expect(len(children) >= 3, f"\"{caption}\" at {dpi} DPI has only {len(children)} children")
    for cid, rects in children.items():
        for x, y, w, h, _ in rects:
            t.expect(x >= 0 and y >= 0 and x + w <= cw and y + h <= ch,
                     f"\"{caption}\" at {dpi} DPI: child {cid} at {x},{y} {w}x{h} leaves the "
                     f"client area {cw}x{ch}")
    t.note(f"\"{caption}\" at {dpi} DPI: client {cw} x {ch}, {len(children)} child ids")
    return layout


def expect_scaled_like(t, caption, dpi, layout, base):
    """Each child with an id of its own is where its 96-DPI place puts it at this scale. A combo
    box sets its own height from its font, so only its place and width count."""
    factor = dpi / 96
    combos = {cid for cid, (cls, _, _) in t.probe.texts(caption).items()
              if cls.lower() == "combobox"}
    for cid, rects in base[2].items():
        if len(rects) != 1 or cid <= 0:
            continue  # the controls' own inner windows: they follow their control
        got = layout[2].get(cid)
        if not got or len(got) != 1:
            t.expect(False, f"\"{caption}\" at {dpi} DPI: no child {cid}")
            continue
        count = 3 if cid in combos else 4
        want = [v * factor for v in rects[0][:count]]
        t.expect(all(near(g, w) for g, w in zip(got[0][:count], want)),
                 f"\"{caption}\" at {dpi} DPI: child {cid} is {got[0][:4]}, expected about "
                 f"{tuple(round(v) for v in want)}")


def check_window(t, program, caption, dpi, base):
    """Starts `program`, waits for its window `caption`, checks its children against the ones at
    96 DPI (kept in `base`), and stops it. Answers the window's rect."""
    program.start()
    t.require(t.probe.wait_window(caption, 30000) is not None,
              f"no \"{caption}\" at {dpi} DPI: {program.output()!r}")
    rect = t.probe.rect(caption)
    t.require(rect is not None, f"no rect of \"{caption}\" at {dpi} DPI")
    layout = measure(t, caption, dpi)
    if dpi == 96:
        base[caption] = layout
    else:
        expect_scaled_like(t, caption, dpi, layout, base[caption])
    program.stop(t.probe)
    return rect


def case_windows_follow_the_screen_dpi(t):
    # Put back for whatever comes next, also when a check below stops the case.
    t.stack.callback(t.wine.set_dpi, 96)
    sim = t.upssim(stdin_scenario=True)  # silent: the locator does not find it
    t.wine.map_com(1, sim.pty)
    t.stack.callback(t.wine.unmap_com, 1)
    base = {}
    for dpi in DPIS:
        t.wine.set_dpi(dpi)
        rect = check_window(t, t.corvamon(INI), MAIN_CAPTION, dpi, base)
        t.expect(near(rect[2], 400 * dpi / 96) and near(rect[3], 259 * dpi / 96),
                 f"Corvamon's window at {dpi} DPI is {rect[2]} x {rect[3]}")
        check_window(t, t.corvaset(CONFIG_INI), CONFIG_CAPTION, dpi, base)
        # No port in the settings: the locator opens first, and searches COM1 (silent) on.
        locating = t.corvaset()
        with contextlib.suppress(FileNotFoundError):
            os.remove(locating.ini)
        check_window(t, locating, LOCATOR_CAPTION, dpi, base)


def case_corvaset_keeps_its_connection_picture_across_a_dpi_change(t):
    """A configured COM port shows the COM picture; the window moved to a 200 % screen loads
    its pictures anew and still shows the COM picture, at 2x, beside the port."""
    program = t.corvaset(CONFIG_INI)
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None,
              f"no window: {program.output()!r}")
    rc, _, err = t.probe.call("dpi-changed", CONFIG_CAPTION, 192)
    t.require(rc == 0, f"probe dpi-changed failed ({rc}): {err}")
    layout = t.probe.layout(CONFIG_CAPTION)
    t.require(layout is not None and 202 in layout[2], "no imgconn(0) after the DPI change")
    x, y, w, h, _ = layout[2][202][0]  # imgconn(0)
    t.expect(near(w, 80) and near(h, 80), f"imgconn(0) at 192 DPI is {w} x {h}")
    shot = os.path.join(t.folder, "imgconn0-192.png")
    t.require(client_screenshot(t, CONFIG_CAPTION, (x, y, 80, 80), shot), "no screenshot")
    res = os.path.join(SOURCE_DIR, "config", "res")
    differences = {name: picture_difference(shot, os.path.join(res, f"conn_{name}_200.bmp"))
                   for name in ("com", "none", "usb")}
    t.note(f"imgconn(0) against the pictures at 2x: {differences}")
    t.require(all(v is not None for v in differences.values()), "the pictures do not compare")
    t.expect_equal(min(differences, key=differences.get), "com", "the picture shown")
    t.expect_equal(t.probe.text(CONFIG_CAPTION, 203), "1", "lblcpto")
