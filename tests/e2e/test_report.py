"""The power report: `Corvamon.exe /informe` beside a running Corvamon, on a generated history
with a known outage. It writes Informe.html in the user's temporary folder and opens it, starts
no second monitor and leaves the running one alone; Debian's chromium then draws the page.

The test prefix has no browser: `.html` is associated, for the case only, with a command that
writes the path it was asked to open to a file (HKCR, which is what Wine's ShellExecute reads),
so ShellExecute's call is checked and no browser starts."""

import datetime
import os
import re
import shutil
import subprocess

from harness import BOX_TITLE, MAIN_CAPTION, PROBE_OK, read_bytes, wait_until, windows_path

INI = {
    "Inicio": {"DataString": "&&&10"},
    # The running monitor keeps no history of its own here: its rows would go after the
    # generated ones at any minute's end. (test_history runs the report on a monitor's own.)
    "Prefs": {"Bitacora": "1", "CierraconX": "1", "Historial": "0"},
}
LINE_POWER = "frame volt=14400 period=16667 battery=200 line=0 mode=0"
# The outage the history holds: it began 90 minutes ago and lasted 25 min 17 s.
OUTAGE_ARG = "90:25"
OUTAGE_DURATION = "25 min 17 s"
HTML_PROGID = "CorvaPrueba.Informe"
# The charts' colours (the voltage mean, the frequency and the battery lines).
CHART_COLOURS = {"voltaje": (0x1F, 0x5F, 0xA8), "frecuencia": (0x2E, 0x8B, 0x57),
                 "bateria": (0xC0, 0x39, 0x2B)}


def wine(t, *args, timeout=60):
    out_path = os.path.join(t.folder, "wine-command.out")
    with open(out_path, "wb") as out:
        result = subprocess.run(["wine", *args], env=t.wine.env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT, timeout=timeout,
                                check=False)
    return result.returncode


def temp_folder(t):
    """The user's temporary folder (%TEMP%) as a Linux path."""
    out_path = os.path.join(t.folder, "temp.out")
    with open(out_path, "wb") as out:
        subprocess.run(["wine", "cmd", "/c", "echo %TEMP%"], env=t.wine.env,
                       stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                       timeout=60, check=False)
    with open(out_path, "rb") as f:
        temp = f.read().decode("cp1252").strip()
    unix = subprocess.run(["winepath", "-u", temp], env=t.wine.env, capture_output=True,
                          text=True, timeout=60, check=False).stdout.strip()
    t.require(unix and os.path.isdir(unix), f"no temporary folder ({temp!r} -> {unix!r})")
    return unix


def open_records_to(t, record):
    """Associates .html with a command that writes the path it opens to `record`, until the
    case ends."""
    command = f"C:\\windows\\system32\\cmd.exe /c echo %1> {windows_path(record)}"
    t.require(wine(t, "reg", "add", r"HKCR\.html", "/ve", "/d", HTML_PROGID, "/f") == 0,
              "cannot associate .html in the test prefix")
    t.stack.callback(wine, t, "reg", "delete", r"HKCR\.html", "/f")
    t.stack.callback(wine, t, "reg", "delete", "HKCR\\" + HTML_PROGID, "/f")
    t.require(wine(t, "reg", "add", f"HKCR\\{HTML_PROGID}\\shell\\open\\command", "/ve", "/d",
                   command, "/f") == 0, "cannot set the .html open command")


def generate_history(t, folder):
    histgen = os.path.join(t.paths.build_dir, "tools", "histgen", "histgen")
    t.require(os.path.isfile(histgen), f"no histgen at {histgen}: build the native tree")
    result = subprocess.run([histgen, "--dir", folder, "--days", "30", "--format", "es",
                             "--outage", OUTAGE_ARG], capture_output=True, text=True,
                            timeout=60, check=False)
    t.require(result.returncode == 0, f"histgen failed: {result.stderr}")
    with open(os.path.join(folder, "Historial.csv"), encoding="utf-8-sig", newline="") as f:
        rows = [line for line in f.read().split("\r\n") if ";Corte de energía;" in line or
                ";Retorno de energía;" in line]
    # The last failure and return are the known outage.
    stamps = [datetime.datetime.fromisoformat(row.split(";")[0]) for row in rows[-2:]]
    return [s.strftime("%d/%m/%Y %H:%M") for s in stamps]


def colour_pixels(t, png):
    """How many pixels of each chart colour the screenshot holds."""
    raw = subprocess.run(["convert", png, "-depth", "8", "rgb:-"], capture_output=True,
                         timeout=60, check=False).stdout
    t.require(raw, f"cannot read {png}")
    counts = {name: 0 for name in CHART_COLOURS}
    reds, greens, blues = raw[0::3], raw[1::3], raw[2::3]
    for r, g, b in zip(reds, greens, blues):
        if r == g == b:
            continue
        for name, (cr, cg, cb) in CHART_COLOURS.items():
            if abs(r - cr) < 24 and abs(g - cg) < 24 and abs(b - cb) < 24:
                counts[name] += 1
    return counts


def case_report_beside_a_running_monitor(t):
    sim, program = t.start_on_simulator(INI)
    sim.send(LINE_POWER)
    t.require(wait_until(lambda: read_bytes(program.event_log), 15),
              "the running Corvamon wrote no start entry")
    log_before = read_bytes(program.event_log)
    outage = generate_history(t, program.folder)
    t.note(f"the outage of the history: {outage}")

    record = os.path.join(t.folder, "opened.txt")
    open_records_to(t, record)
    page = os.path.join(temp_folder(t), "Informe.html")
    if os.path.exists(page):
        os.remove(page)

    report = t.windows_program(program.exe, "/informe")
    code = report.wait_end(60)
    t.require(code is not None, "Corvamon /informe did not end within 60 s")
    t.expect_equal(code, 0, "the exit code of Corvamon /informe")
    t.require(os.path.isfile(page), f"no {page}")
    # The open command writes the path it was given (the file exists a moment before its text).
    t.expect(wait_until(lambda: (read_bytes(record) or b"").strip(), 15),
             "the page was not opened (no ShellExecute of it)")
    opened = (read_bytes(record) or b"").decode("cp1252").strip().strip('"')
    t.expect(opened.lower().endswith("\\temp\\informe.html"),
             f"ShellExecute opened {opened!r}, not the page")

    with open(page, encoding="utf-8") as f:
        html = f.read()
    row = re.search(r"<tr><td>" + re.escape(outage[0]) + r"</td><td>" + re.escape(outage[1]) +
                    r"</td><td>([^<]*)</td><td>[^<]*</td><td>([^<]*)</td></tr>", html)
    if t.expect(row, f"no row for the outage {outage} in the outage table"):
        t.expect_equal(row.group(1), OUTAGE_DURATION, "the outage's duration")
        t.expect_equal(row.group(2), "Retorno de energía", "how the outage ended")
    t.expect("Se omitieron" not in html, "lines skipped from a history histgen wrote")

    # One monitor only, still running, and nothing written to its log; no box.
    monitors = [w for w in t.probe.windows() if w["title"] == MAIN_CAPTION]
    t.expect_equal(len(monitors), 1, f"windows \"{MAIN_CAPTION}\"")
    t.expect(program.running(), "the running Corvamon ended")
    t.expect_equal(read_bytes(program.event_log), log_before, "Bitacora.txt after /informe")
    t.expect_equal(t.probe.message_boxes(BOX_TITLE), [], "message boxes")

    # A real browser draws the page: the three charts' colours are on the screenshot.
    chromium = shutil.which("chromium")
    t.require(chromium, "no chromium (scripts/deps installs it)")
    shot = os.path.join(t.folder, "informe.png")
    subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu",
                    f"--user-data-dir={os.path.join(t.folder, 'chromium')}",
                    f"--screenshot={shot}", "--window-size=1200,3000", "file://" + page],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=False)
    t.require(os.path.isfile(shot), "chromium made no screenshot")
    counts = colour_pixels(t, shot)
    t.note(f"chart pixels: {counts}")
    for name, count in counts.items():
        t.expect(count >= 400, f"the {name} chart is not drawn ({count} pixels of its colour)")


def case_a_page_that_cannot_be_written_gets_a_box(t):
    # A folder where Informe.html should go: the page cannot be written there.
    program = t.corvamon(INI)
    generate_history(t, program.folder)
    page = os.path.join(temp_folder(t), "Informe.html")
    if os.path.isfile(page):
        os.remove(page)
    os.makedirs(page, exist_ok=True)
    t.stack.callback(shutil.rmtree, page, True)

    report = t.windows_program(program.exe, "/informe")
    rc, texts, err = t.probe.msgbox(BOX_TITLE, 30000)
    t.require(rc == PROBE_OK, f"no message box titled {BOX_TITLE!r} within 30 s ({err})")
    t.expect(texts and texts[0].startswith("No se pudo escribir el informe de energía en\r\n")
             and "Informe.html" in texts[0], f"the box's text: {texts}")
    rc, _, err = t.probe.msgbox(BOX_TITLE, 5000, press="OK")
    t.require(rc == PROBE_OK, f"pressing OK on the box failed ({err})")
    t.expect_equal(report.wait_end(30), 1, "the exit code of Corvamon /informe")
    t.expect(not [w for w in t.probe.windows() if w["title"] == MAIN_CAPTION],
             "a monitor window came up")
    t.expect(read_bytes(program.event_log) is None, "Bitacora.txt was written")
