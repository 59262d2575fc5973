"""Corvaset, the settings editor, under Wine: the locator finding upssim, the settings written on
close, the log buttons, the start-up shortcut, and Corvamon reading what Corvaset wrote."""

import glob
import os
import struct
import time

from harness import (CONFIG_CAPTION, IDS, LOCATOR_CAPTION, MAIN_CAPTION, PROBE_OK,
                     client_screenshot, run_to_files, wait_until, windows_path)

# Control ids (config/win32/config_ids.h).
CFG = {"ImgC4": 104, "lblcpto": 203, "cmdBuscaTNX": 204, "chkejecutainicio": 205,
       "cmdDelBita": 227, "cmdVerBita": 228, "locLabel1": 300, "locLabel2": 301}

# The window's buttons: ImgC(0..4), the search, browse and log buttons.
BUTTONS = {100: "Inicio y Notificaciones", 101: "Guardar archivos", 102: "Opciones de Apagado",
           103: "Información general", 104: "Salir", 204: "Buscar equipo", 225: "Examinar",
           227: "Borrar Bitacora", 228: "Ver Bitacora"}

# Every key the close writes, in order, "Commport" with its small p.
SAVED_KEYS = [("Inicio", "Commport"), ("Inicio", "DataString"),
              ("Prefs", "InicioWin"), ("Prefs", "IniciaMin"), ("Prefs", "DCMaximiza"),
              ("Prefs", "NotifAviso"), ("Prefs", "NotifMaximiza"), ("Prefs", "Bitacora"),
              ("Prefs", "CierraconX"), ("Prefs", "GuardaOffice"), ("Prefs", "PathOffice"),
              ("Prefs", "MostrarAOL"), ("Prefs", "MostrarMute"), ("Prefs", "MostrarTest"),
              ("Apaga", "ApagaPorcentaje"), ("Apaga", "ApagaQuePorcentaje"),
              ("Apaga", "ApagaNormal"), ("Apaga", "ApagaMinutos"),
              ("Apaga", "ApagaCuantosMinutos"), ("Apaga", "ApagaTNX"),
              ("Apaga", "ApagaTNXMinutos"), ("Apaga", "ApagaDesconexion"),
              ("Apaga", "ApagaDesconexionSegundos")]


def ini_keys_in_order(path):
    """[(section, key)] as the file has them, names as written."""
    found, section = [], None
    with open(path, "rb") as f:
        for raw in f.read().decode("cp1252").splitlines():
            line = raw.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif "=" in line and section:
                found.append((section, line.split("=", 1)[0]))
    return found


def close_config(t, program, timeout=20):
    """Salir, as a user closes the window; the program ends after writing the settings."""
    rc, _, err = t.probe.click(CONFIG_CAPTION, CFG["ImgC4"], "--post")
    t.require(rc == PROBE_OK, f"clicking Salir failed ({rc}): {err}")
    code = program.wait_end(timeout)
    t.require(code is not None, f"Corvaset still runs {timeout} s after Salir")


def only_com(t, port, device):
    """COM`port` is `device`; COM1 to COM3 other than it point nowhere real. Undone at the end."""
    for n in (1, 2, 3):
        if n != port:
            t.wine.unmap_com(n)
    t.wine.map_com(port, device)
    t.stack.callback(t.wine.unmap_com, port)


def startup_folder(t):
    """The user's Startup folder in the prefix (Wine names it "StartUp")."""
    users = os.path.join(t.wine.env["WINEPREFIX"], "drive_c", "users")
    found = []
    for programs in glob.glob(os.path.join(users, "*", "AppData", "Roaming", "Microsoft",
                                           "Windows", "Start Menu", "Programs")):
        found += [os.path.join(programs, name) for name in os.listdir(programs)
                  if name.lower() == "startup"]
    return found


def read_lnk(path):
    """The fields of a shell link that matter here: show command, working folder, icon and the
    target's path (from the link information)."""
    data = open(path, "rb").read()
    flags, = struct.unpack_from("<I", data, 0x14)
    show, = struct.unpack_from("<I", data, 0x3C)
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x2:  # HasLinkInfo
        size, header = struct.unpack_from("<II", data, at)
        base_offset, = struct.unpack_from("<I", data, at + 16)
        if base_offset:
            end = data.index(b"\0", at + base_offset)
            target = data[at + base_offset:end].decode("cp1252")
        if header >= 0x24:
            unicode_offset, = struct.unpack_from("<I", data, at + 28)
            if unicode_offset:
                end = at + unicode_offset
                while data[end:end + 2] != b"\0\0":
                    end += 2
                target = data[at + unicode_offset:end].decode("utf-16-le")
        at += size
    strings = {}
    unicode = bool(flags & 0x80)
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "workdir"), (0x20, "args"),
                      (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, at)
            at += 2
            width = 2 if unicode else 1
            raw = data[at:at + count * width]
            # some writers count the closing NUL too
            strings[name] = raw.decode("utf-16-le" if unicode else "cp1252").rstrip("\0")
            at += count * width
    return {"show": show, "target": target, **strings}


# ---------------------------------------------------------------- the locator


def case_first_run_finds_the_ups_on_com3(t):
    """No settings file: the locator opens before the window and finds the UPS on COM3 (COM1
    and COM2 unmapped); closing writes every key, in order."""
    sim = t.upssim("--interval", "300")
    only_com(t, 3, sim.pty)
    program = t.corvaset()
    opened = time.monotonic()
    program.start()
    t.require(t.probe.wait_window(LOCATOR_CAPTION, 30000) is not None,
              f"the locator did not open: {program.output()!r}")
    seen = [w for w in t.probe.windows() if w["title"] == CONFIG_CAPTION and w["visible"]]
    t.expect(not seen, "the configuration window showed before the locator was done")
    ok, detail = t.probe.wait_text(LOCATOR_CAPTION, CFG["locLabel1"], "Localizado en COM", 60000)
    found_after = time.monotonic() - opened
    t.require(ok, f"the locator did not find the UPS: {detail}")
    t.expect_equal(t.probe.text(LOCATOR_CAPTION, CFG["locLabel2"]), "3", "the port found")
    t.note(f"\"Localizado en COM\" {found_after:.1f} s after the start (COM1, COM2 unmapped)")

    t.require(t.probe.wait_window(CONFIG_CAPTION, 15000) is not None,
              "the configuration window did not show after the locator")
    t.expect(t.probe.wait_gone(LOCATOR_CAPTION, 10000), "the locator stayed open")
    t.expect_equal(t.probe.text(CONFIG_CAPTION, CFG["lblcpto"]), "3", "lblcpto")
    t.expect_equal(sim.rx_bytes(), b"", "bytes the locator sent the UPS")
    # Every button of the window is an ImageBtn instance, with its designed caption.
    controls = t.probe.texts(CONFIG_CAPTION)
    for cid, caption in BUTTONS.items():
        cls, _, text = controls.get(cid, (None, None, None))
        t.expect_equal((cls, text), ("LumbraImageBtn", caption), f"button {cid}")
    close_config(t, program)
    t.expect_equal(ini_keys_in_order(program.ini), SAVED_KEYS, "the keys written, in order")
    ini = program.read_ini()
    t.expect_equal(ini["inicio"]["commport"], "3", "Commport")
    t.expect_equal(ini["inicio"]["datastring"], "&&&10", "DataString")


def case_a_configured_port_shows_without_a_search(t):
    program = t.corvaset({"Inicio": {"CommPort": "3", "DataString": "&&&10"}})
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None,
              f"no window: {program.output()!r}")
    t.expect(not [w for w in t.probe.windows() if w["title"] == LOCATOR_CAPTION],
             "the locator opened although a port is set")
    t.expect_equal(t.probe.text(CONFIG_CAPTION, CFG["lblcpto"]), "3", "lblcpto")
    close_config(t, program)
    t.expect_equal(program.read_ini()["inicio"]["commport"], "3", "Commport after closing")


def locator_background(t, when):
    """The mean colour of a strip of the locator's client area above its label, where only the
    window's background is, as (r, g, b) in 0..255."""
    shot = os.path.join(t.folder, f"locator-{when}.png")
    t.require(client_screenshot(t, LOCATOR_CAPTION, (60, 1, 100, 5), shot),
              f"no screenshot of the locator ({when})")
    rc, out, err = run_to_files(["convert", shot, "-format",
                                 "%[fx:255*mean.r] %[fx:255*mean.g] %[fx:255*mean.b]", "info:"],
                                os.environ.copy(), 30)
    t.require(rc == 0, f"convert failed: {err}")
    return tuple(round(float(v)) for v in out.split())


def case_the_locator_paints_its_background_on_every_search(t):
    """The locator twice in one run (at the start, then "Buscar equipo"): both times its
    background is its own colour, not what a brush of the first window left behind."""
    # A frame every 3 s: the locator stays open long enough to be looked at.
    sim = t.upssim("--interval", "3000")
    only_com(t, 3, sim.pty)
    program = t.corvaset()
    program.start()
    backgrounds = []
    for when in ("first", "second"):
        t.require(t.probe.wait_window(LOCATOR_CAPTION, 30000) is not None,
                  f"no locator for the {when} search")
        backgrounds.append(locator_background(t, when))
        ok, detail = t.probe.wait_text(LOCATOR_CAPTION, CFG["locLabel1"], "Localizado en COM",
                                       60000)
        t.require(ok, f"the {when} search did not find the UPS: {detail}")
        t.require(t.probe.wait_gone(LOCATOR_CAPTION, 10000), "the locator stayed open")
        if when == "first":
            t.require(t.probe.wait_window(CONFIG_CAPTION, 15000) is not None, "no window")
            t.probe.click(CONFIG_CAPTION, CFG["cmdBuscaTNX"], "--post", "--force")
            rc, _, err = t.probe.msgbox("Equipo BRAX", 10000, press="OK")
            t.require(rc == PROBE_OK, f"no question before the search ({err})")
    t.note(f"the locator's background: {backgrounds}")
    for when, colour in zip(("first", "second"), backgrounds):
        t.expect(all(abs(c - w) <= 6 for c, w in zip(colour, (244, 246, 248))),
                 f"the locator's background on the {when} search is {colour}")
    close_config(t, program)


# ---------------------------------------------------------------- log and shortcut


def case_log_buttons_and_the_startup_shortcut(t):
    program = t.corvaset({"Inicio": {"CommPort": "1", "DataString": "&&&10"}})
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None, "no window")

    # Ver Bitacora with no log: the box.
    t.probe.click(CONFIG_CAPTION, CFG["cmdVerBita"], "--post", "--force")
    rc, texts, err = t.probe.msgbox("Archivo de Bitácora", 10000, press="OK")
    t.expect(rc == PROBE_OK, f"no box for a missing log ({err})")
    t.expect_equal(texts, ["No exite un archivo de Bitácora"], "the box's text")
    # Borrar Bitacora: an empty log, whether or not there was one.
    t.probe.click(CONFIG_CAPTION, CFG["cmdDelBita"], "--force")
    t.expect(wait_until(lambda: os.path.isfile(program.event_log), 5)
             and os.path.getsize(program.event_log) == 0, "no empty Bitacora.txt after Borrar")
    with open(program.event_log, "wb") as f:
        f.write(b"Inicio de Monitoreo KRD 01/01/2026  10:00:00\r\n")
    t.probe.click(CONFIG_CAPTION, CFG["cmdDelBita"], "--force")
    t.expect(wait_until(lambda: os.path.getsize(program.event_log) == 0, 5),
             "Borrar Bitacora left the entries in the log")

    # The start-up box checked: the link is made on close.
    t.probe.click(CONFIG_CAPTION, CFG["chkejecutainicio"], "--force")
    close_config(t, program)
    t.expect_equal(program.read_ini()["prefs"]["iniciowin"], "1", "InicioWin")
    folders = startup_folder(t)
    t.require(folders, "no Startup folder in the prefix")
    link = os.path.join(folders[0], "Corvamon.lnk")
    t.require(os.path.isfile(link), f"no {link}")
    fields = read_lnk(link)
    t.note(f"Corvamon.lnk: {fields}")
    target = "Z:" + os.path.join(program.folder, "Corvamon.exe").replace("/", "\\")
    t.expect_equal((fields["target"] or "").lower(), target.lower(), "the link's target")
    t.expect_equal(fields["show"], 4, "the link's window style")
    # The working folder is the Startup folder itself, with its trailing "\".
    drive_c = os.path.join(t.wine.env["WINEPREFIX"], "drive_c")
    startup = "C:\\" + os.path.relpath(folders[0], drive_c).replace("/", "\\") + "\\"
    t.expect_equal(fields.get("workdir", "").lower(), startup.lower(), "the link's working folder")
    t.expect_equal(fields.get("icon", "").lower(), target.lower(), "the link's icon")

    # Unchecked again: the link goes.
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None, "no window the second time")
    t.probe.click(CONFIG_CAPTION, CFG["chkejecutainicio"], "--force")
    close_config(t, program)
    t.expect(not os.path.exists(link), "the link is still there after unchecking")


# ---------------------------------------------------------------- both programs


def case_corvamon_reads_what_corvaset_found(t):
    """The locator finds a UPS sending *** frames; Corvamon then starts with the frame kind
    Corvaset wrote and shows that UPS's readings."""
    sim = t.upssim("--kind", "star", "--battery", "180", "--interval", "300")
    only_com(t, 1, sim.pty)
    config = t.corvaset()
    config.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 60000) is not None,
              f"no configuration window: {config.output()!r}")
    close_config(t, config)
    ini = config.read_ini()
    t.expect_equal((ini["inicio"]["commport"], ini["inicio"]["datastring"]), ("1", "***9"),
                   "what the locator found")

    monitor = t.corvamon()
    monitor.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")
    # Before any frame the frequency reads "0 Hz".
    shown = wait_until(lambda: t.probe.text(MAIN_CAPTION, IDS["lblfr"]) != "0 Hz", 15)
    t.expect(shown, "Corvamon shows no frame of the UPS Corvaset found")
    t.note(f"Corvamon reads {t.probe.text(MAIN_CAPTION, IDS['lblfr'])!r}")


# ---------------------------------------------------------------- saving and folders


def case_a_read_only_settings_file_asks_and_retry_saves_every_key(t):
    """Closing while Corvamon.ini cannot be written (another program holds it; as root, Wine
    writes read-only files all the same): a box names the file and Windows' reason and waits;
    once the file can be written, "Reintentar" writes every key."""
    program = t.corvaset({"Inicio": {"CommPort": "USB"}})
    before = open(program.ini, "rb").read()
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None,
              f"no window: {program.output()!r}")
    holder = t.lock_file(program.ini, 12000)
    rc, _, err = t.probe.click(CONFIG_CAPTION, CFG["ImgC4"], "--post")
    t.require(rc == PROBE_OK, f"clicking Salir failed ({rc}): {err}")
    rc, texts, err = t.probe.msgbox(CONFIG_CAPTION, 15000)
    t.require(rc == PROBE_OK, f"no box for the settings that were not saved ({err})")
    shown = " ".join(texts)
    t.note(f"the box: {shown!r}")
    t.expect("No se pudieron guardar los cambios" in shown, f"the box's text: {shown!r}")
    t.expect(windows_path(program.ini).lower() in shown.lower().replace("\r\n", " "),
             f"the box does not name {windows_path(program.ini)}: {shown!r}")
    t.expect(program.running(), "Corvaset ended with the box up")
    t.expect_equal(open(program.ini, "rb").read(), before, "the file while it is held")

    t.require(wait_until(lambda: "RELEASED" in holder.output(), 30), "the file stayed locked")
    rc, _, err = t.probe.msgbox(CONFIG_CAPTION, 5000, press="RETRY")
    t.require(rc == PROBE_OK, f"pressing Reintentar failed ({err})")
    t.require(program.wait_end(20) is not None, "Corvaset still runs after Reintentar")
    t.expect_equal([(s.lower(), k.lower()) for s, k in ini_keys_in_order(program.ini)],
                   [(s.lower(), k.lower()) for s, k in SAVED_KEYS], "the keys written, in order")
    t.expect_equal(program.read_ini()["inicio"]["commport"], "USB", "Commport")


def case_cancel_at_the_save_box_closes_without_saving(t):
    program = t.corvaset({"Inicio": {"CommPort": "USB"}})
    before = open(program.ini, "rb").read()
    program.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None, "no window")
    t.lock_file(program.ini, 60000)
    t.probe.click(CONFIG_CAPTION, CFG["ImgC4"], "--post")
    rc, _, err = t.probe.msgbox(CONFIG_CAPTION, 15000, press="CANCEL")
    t.require(rc == PROBE_OK, f"no box to cancel ({err})")
    t.expect(program.wait_end(20) is not None, "Corvaset still runs after Cancelar")
    t.expect_equal(open(program.ini, "rb").read(), before, "the file after Cancelar")


def case_a_program_folder_named_outside_the_code_page(t):
    """Both programs in a folder whose name the ANSI code page cannot hold: Corvaset reads the
    port from Corvamon.ini (no search) and writes every key back in ANSI; Corvamon reads the
    frame kind from it and logs to Bitacora.txt beside it."""
    folder = os.path.join("\u0141ukasz", "Corvamon")
    config = t.corvaset({"Inicio": {"CommPort": "3", "DataString": "&&&10"},
                         "Prefs": {"Bitacora": "1", "PathOffice": "C:\\Se\u00f1al"}},
                        program_folder=folder)
    config.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None,
              f"no window: {config.output()!r}")
    t.expect(not [w for w in t.probe.windows() if w["title"] == LOCATOR_CAPTION],
             "the locator opened: the settings were not read")
    t.expect_equal(t.probe.text(CONFIG_CAPTION, CFG["lblcpto"]), "3", "lblcpto")
    close_config(t, config)
    t.expect_equal(sorted((s.lower(), k.lower()) for s, k in ini_keys_in_order(config.ini)),
                   sorted((s.lower(), k.lower()) for s, k in SAVED_KEYS), "the keys written")
    raw = open(config.ini, "rb").read()
    t.expect(b"PathOffice=C:\\Se\xf1al" in raw, f"PathOffice is not ANSI text: {raw!r}")

    sim = t.upssim("--interval", "300")
    t.wine.map_com(1, sim.pty)
    t.stack.callback(t.wine.unmap_com, 1)
    monitor = t.corvamon(program_folder=folder)
    monitor.start()
    t.require(t.probe.wait_window(MAIN_CAPTION, 30000) is not None, "Corvamon did not start")
    shown = wait_until(lambda: t.probe.text(MAIN_CAPTION, IDS["lblfr"]) != "0 Hz", 15)
    t.expect(shown, "Corvamon shows no frame: it did not read DataString")
    logged = wait_until(lambda: os.path.isfile(monitor.event_log) and b"Inicio de Monitoreo"
                        in open(monitor.event_log, "rb").read(), 15)
    t.expect(logged, "no start entry in Bitacora.txt beside the programs")
