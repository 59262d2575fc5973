"""Saving Office documents before the shutdown, against the stand-in Office
(tests/office_standin) running beside Corvamon in the same Wine prefix: its dialogs closed first,
every document saved in its order and place, the applications quit, then the UPS told
and the Wine session ended; a call that never returns, which the shutdown outlives; and a
dialog whose program hangs and an application busy for a while, which hold up nothing else."""

import os
import time

from harness import (IDS, MAIN_CAPTION, PROBE_OK, CaseFailure, read_bytes, wait_until,
                     windows_path)
from test_events import FAILURE, LINE_POWER, wait_entries, wait_label
from test_shutdown import expect_turnoff, sent_frame_ms, settings, start_monitor

BUDGET_S = 120  # the saving's time budget
BUSY_MS = 3000  # how long the busy stand-in turns calls away
THRESHOLD_FRAME = "frame volt=0 period=16667 battery=155 line=1 mode=1"  # 30.00 %
THRESHOLD_FRAME_HEX = "262626 0000 9B 415C 3131"


class StandIn:
    """The stand-in Office with the documents of `documents` (app, instance, name, full name
    [, member that hangs]), journalling into the case's folder."""

    def __init__(self, t, documents):
        exe = os.path.join(t.paths.win_build_dir, "tests", "office_standin", "office_standin.exe")
        self.setup = os.path.join(t.folder, "office-setup.txt")
        self.journal_path = os.path.join(t.folder, "office-journal.txt")
        with open(self.setup, "wb") as f:
            f.write("".join("\t".join(doc) + "\r\n" for doc in documents).encode("utf-8"))
        self.program = t.windows_program(exe, windows_path(self.setup),
                                         windows_path(self.journal_path))
        ready = wait_until(lambda: any(w == "ready" for _, _, w in self.journal())
                           or not self.program.running(), 30)
        t.require(ready and self.program.running(),
                  f"the stand-in Office did not come up: {self.journal()} "
                  f"{self.program.output()[-500:]}")

    def journal(self):
        """[(epoch seconds, who, what)] of every journalled line so far."""
        data = read_bytes(self.journal_path)
        lines = [] if data is None else data.decode("utf-8").splitlines()
        entries = []
        for line in lines:
            stamp, who, what = line.split(" ", 2)
            entries.append((int(stamp) / 1000, who, what))
        return entries

    def calls(self):
        """The journal without time stamps: ["Word1 Count", ...]."""
        return [f"{who} {what}" for _, who, what in self.journal() if who != "standin"]


def on_battery_at_threshold(t, ini, documents):
    """Corvamon on upssim with the threshold rule at 30 %, the stand-in running, power failed.
    Answers (sim, program, standin, session)."""
    sim, program = start_monitor(t, ini)
    standin = StandIn(t, documents)  # after the COM mapping, which restarts the prefix's server
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    t.require(wait_label(t, "lblbat", "66.67 %"), "the failure frame did not show")
    return sim, program, standin, session


def turnoff_delay(t, sim):
    """Seconds from the deciding frame leaving upssim to the "%" reaching it."""
    frame_ms = sent_frame_ms(sim, THRESHOLD_FRAME_HEX)
    records = sim.rx_records()
    if frame_ms is None or not records:
        return None
    return (records[0][0] - frame_ms) / 1000


def office_ini(save_dir, **apaga):
    ini = settings({"GuardaOffice": "1", "PathOffice": windows_path(save_dir)},
                   ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1, ApagaTNXMinutos=5,
                   **apaga)
    return ini


def case_threshold_saves_office_then_signals_and_shuts_down(t):
    save_dir = os.path.join(t.folder, "Guardar")
    docs_dir = os.path.join(t.folder, "Documentos")
    os.makedirs(save_dir)
    os.makedirs(docs_dir)
    # A hidden file of the user's holds "Documento1.doc": it is taken, never overwritten.
    hidden = os.path.join(save_dir, "Documento1.doc")
    with open(hidden, "wb") as f:
        f.write(b"mine")
    try:
        os.setxattr(hidden, "user.DOSATTRIB", b"0x2")
    except OSError as e:
        raise CaseFailure(f"cannot mark {hidden} hidden for Wine: {e}")
    letter = os.path.join(docs_dir, "Carta.doc")
    bulletin = os.path.join(docs_dir, "Boletín.pub")
    accounts = os.path.join(docs_dir, "Cuentas.xls")
    documents = [
        ("Word", "1", "Documento1", "Documento1"),
        ("Word", "1", "Carta.doc", windows_path(letter)),
        ("Word", "1", "Documento3", "Documento3"),
        ("Publisher", "1", "Boletín.pub", windows_path(bulletin)),
        ("PowerPoint", "1", "informe.ppt", "http://servidor/informe.ppt"),
        ("Excel", "1", "Libro1", "Libro1"),
        ("Excel", "2", "Cuentas.xls", windows_path(accounts)),
    ]
    sim, program, standin, session = on_battery_at_threshold(t, office_ini(save_dir), documents)

    sim.send(THRESHOLD_FRAME)
    session.wait(30, "the frame at the threshold")
    expect_turnoff(t, sim, 5, None)
    delay = turnoff_delay(t, sim)
    t.note(f"deciding frame to \"%\" with the documents: {delay:.2f} s")

    journal = standin.journal()
    calls = standin.calls()
    t.note("journal: " + "; ".join(calls))
    first_document_call = next((when for when, who, what in journal
                                if who != "standin" and "WM_CLOSE" not in what
                                and not what.startswith("window key")), None)
    closes = [when for when, _, what in journal if what == "dialog WM_CLOSE"]
    t.expect_equal(len(closes), 5, "owned dialogs closed (one per running instance)")
    t.expect(first_document_call is not None and closes and max(closes) <= first_document_call,
             "a dialog was closed after the first document call")

    def of(who):
        return [what for _, w, what in journal if w == who]

    sf = windows_path(save_dir)
    t.expect_equal(of("Word1"), [
        "dialog WM_CLOSE", "Documents", "Count",
        "Item 3", "Name", "FullName", f"SaveAs {sf}\\Documento3.doc", "Close",
        "Item 2", "Name", "FullName", "Save", "Close",
        "Item 1", "Name", "FullName", f"SaveAs {sf}\\Documento2.doc", "Close",
        "Quit"], "Word's calls")
    t.expect_equal([c for c in of("Publisher1") if c != "dialog WM_CLOSE"],
                   ["Documents", "Count", "Item 1", "Name", "FullName", "Save", "Close", "Quit"],
                   "Publisher's calls")
    t.expect(f"SaveAs {sf}\\informe.ppt.ppt" in of("PowerPoint1"),
             f"the presentation from a web address was not saved into the folder: "
             f"{of('PowerPoint1')}")
    t.expect(f"SaveAs {sf}\\Libro1.xls" in of("Excel1") and "Save" in of("Excel2"),
             f"Excel's workbooks: {of('Excel1')} {of('Excel2')}")

    # The passes in order: Word, Publisher, PowerPoint, then Excel once per instance, 500 ms
    # apart (the third pass finds none and leaves no trace here).
    quits = {who: when for when, who, what in journal if what == "Quit"}
    t.expect_equal(sorted(quits, key=quits.get),
                   ["Word1", "Publisher1", "PowerPoint1", "Excel1", "Excel2"], "order of the Quits")
    if "Excel1" in quits and "Excel2" in quits:
        gap = quits["Excel2"] - quits["Excel1"]
        t.note(f"Excel passes {gap:.2f} s apart")
        t.expect(gap >= 0.5, f"the Excel passes were {gap:.2f} s apart, not 500 ms or more")
    # Each Excel window got its Escape, before Excel's first call.
    escapes = [(when, who) for when, who, what in journal if what == "window key 27"]
    t.expect_equal(sorted(who for _, who in escapes), ["Excel1", "Excel2"],
                   "the Excel windows the Escape key reached")
    first_excel_call = next((when for when, who, what in journal if who.startswith("Excel")
                             and what not in ("dialog WM_CLOSE", "window key 27")), None)
    t.expect(escapes and first_excel_call is not None
             and max(when for when, _ in escapes) <= first_excel_call,
             "an Escape key reached Excel after its first call")
    # The UPS is told after the last Office call.
    if journal and sim.rx_records():
        t.expect(sim.rx_records()[0][2] >= journal[-1][0] - 0.5,
                 "the \"%\" reached the UPS before the saving ended")

    # The files.
    for name in ("Documento3.doc", "Documento2.doc", "informe.ppt.ppt", "Libro1.xls"):
        t.expect(os.path.isfile(os.path.join(save_dir, name)), f"no {name} in the save folder")
    t.expect_equal(read_bytes(hidden), b"mine", "the user's hidden Documento1.doc")
    for path in (letter, bulletin, accounts):
        data = read_bytes(path) or b""
        t.expect(data.startswith(b"stand-in document"), f"{path} was not saved in place")
    t.expect_equal(sorted(os.listdir(save_dir)),
                   sorted(["Documento1.doc", "Documento2.doc", "Documento3.doc",
                           "informe.ppt.ppt", "Libro1.xls"]), "files in the save folder")


def case_a_hung_office_call_holds_the_shutdown_no_longer_than_the_budget(t):
    save_dir = os.path.join(t.folder, "Guardar")
    os.makedirs(save_dir)
    documents = [
        ("Word", "1", "Documento1", "Documento1", "SaveAs"),  # a modal box that never closes
        ("Excel", "1", "Libro1", "Libro1"),
    ]
    sim, program, standin, session = on_battery_at_threshold(t, office_ini(save_dir), documents)
    sim.send(THRESHOLD_FRAME)
    session.wait(BUDGET_S + 30, "the frame at the threshold, with Word hung")
    expect_turnoff(t, sim, 5, None)
    journal = standin.journal()
    t.note("journal: " + "; ".join(standin.calls()))
    t.expect(any(what == "hangs in SaveAs" for _, _, what in journal),
             "the stand-in's Word never hung")
    delay = turnoff_delay(t, sim)
    started = next((when for when, who, _ in journal if who != "standin"), None)
    if not t.expect(delay is not None and started is not None and sim.rx_records(),
                    "no saving start or no turn-off to measure"):
        return
    waited = sim.rx_records()[0][2] - started
    t.note(f"deciding frame to \"%\": {delay:.2f} s; saving start to \"%\": {waited:.2f} s")
    t.expect(BUDGET_S - 2 <= waited <= BUDGET_S + 5,
             f"the UPS was told {waited:.1f} s after the saving began, not at its "
             f"{BUDGET_S} s budget")
    t.expect(not any(who.startswith("Excel") and what != "dialog WM_CLOSE"
                     for _, who, what in journal),
             "Excel was called although the budget went to Word's hung call")


def case_a_hung_dialog_and_a_busy_office_hold_up_nothing_else(t):
    save_dir = os.path.join(t.folder, "Guardar")
    docs_dir = os.path.join(t.folder, "Documentos")
    os.makedirs(save_dir)
    os.makedirs(docs_dir)
    slides = os.path.join(docs_dir, "Ventas.ppt")
    documents = [
        ("hung-owner", "Informe - Microsoft Word"),  # its dialog's WM_CLOSE never returns
        ("busy", "Word", "1", str(BUSY_MS)),  # turns every call away for a while
        ("Word", "1", "Documento1", "Documento1"),
        ("PowerPoint", "1", "Ventas.ppt", windows_path(slides)),
        ("Excel", "1", "Libro1", "Libro1"),
    ]
    sim, program, standin, session = on_battery_at_threshold(t, office_ini(save_dir), documents)
    sim.send(THRESHOLD_FRAME)
    session.wait(BUDGET_S + 30, "the frame at the threshold, with a hung dialog and a busy Word")
    expect_turnoff(t, sim, 5, None)
    journal = standin.journal()
    t.note("journal: " + "; ".join(standin.calls()))

    def of(who):
        return [what for _, w, what in journal if w == who]

    hung = next((when for when, who, what in journal
                 if who == "hung" and what == "dialog WM_CLOSE"), None)
    if not t.expect(hung is not None, "the hung owner's dialog was never sent WM_CLOSE"):
        return
    after = next((when for when, who, _ in journal if when >= hung and who not in
                  ("hung", "standin")), None)
    if t.expect(after is not None, "nothing was called after the hung dialog"):
        t.note(f"the hung dialog held the saving for {after - hung:.2f} s")
        t.expect(after - hung < 10, f"the hung dialog held the saving for {after - hung:.1f} s")

    # Word answered after turning its calls away, and its document was saved.
    word = of("Word1")
    busy = [what for what in word if what.startswith("busy ")]
    t.expect(len(busy) >= 2, f"Word never turned a call away: {word}")
    sf = windows_path(save_dir)
    t.expect_equal([what for what in word if not what.startswith("busy ")],
                   ["dialog WM_CLOSE", "Documents", "Count", "Item 1", "Name", "FullName",
                    f"SaveAs {sf}\\Documento1.doc", "Close", "Quit"], "Word's calls")
    busy_times = [when for when, who, what in journal
                  if who == "Word1" and what.startswith("busy ")]
    if busy_times:
        t.note(f"Word turned {len(busy_times)} calls away over "
               f"{busy_times[-1] - busy_times[0]:.2f} s")
    for who in ("PowerPoint1", "Excel1"):
        t.expect("Quit" in of(who), f"{who} was not saved and quit: {of(who)}")
    t.expect(os.path.isfile(os.path.join(save_dir, "Documento1.doc")), "no Documento1.doc")
    t.expect(os.path.isfile(os.path.join(save_dir, "Libro1.xls")), "no Libro1.xls")
    t.expect((read_bytes(slides) or b"").startswith(b"stand-in document"),
             "the presentation was not saved in place")
    t.expect_equal(of("Excel1").count("window key 27"), 1, "Escape keys in Excel1's window")

    delay = turnoff_delay(t, sim)
    if t.expect(delay is not None, "no turn-off to measure"):
        t.note(f"deciding frame to \"%\": {delay:.2f} s")
        t.expect(delay < BUDGET_S / 2, f"the UPS was told only {delay:.1f} s after the frame")


def case_with_no_office_running_the_saving_adds_almost_nothing(t):
    save_dir = os.path.join(t.folder, "Guardar")
    os.makedirs(save_dir)
    sim, program = start_monitor(t, office_ini(save_dir))
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    sim.send(THRESHOLD_FRAME)
    session.wait(20, "the frame at the threshold")
    expect_turnoff(t, sim, 5, sent_frame_ms(sim, THRESHOLD_FRAME_HEX))
    delay = turnoff_delay(t, sim)
    if t.expect(delay is not None, "no turn-off to measure"):
        t.note(f"deciding frame to \"%\" with no Office running: {delay:.2f} s")
    t.expect_equal(os.listdir(save_dir), [], "files in the save folder")


def case_a_close_during_the_saving_waits_until_the_ups_is_told(t):
    """The user closes the window (CierraconX=1) while Word is still turning the saving's calls
    away: the window stays until the UPS has its turn-off command, and the shutdown follows."""
    save_dir = os.path.join(t.folder, "Guardar")
    os.makedirs(save_dir)
    documents = [
        ("busy", "Word", "1", str(BUSY_MS)),
        ("Word", "1", "Documento1", "Documento1"),
    ]
    sim, program, standin, session = on_battery_at_threshold(t, office_ini(save_dir), documents)
    sim.send(THRESHOLD_FRAME)
    saving = wait_until(lambda: any(w.startswith("busy ") for _, _, w in standin.journal()), 20,
                        step=0.05)
    t.require(saving, f"the saving never reached Word: {standin.calls()}")
    rc, _, err = t.probe.click(MAIN_CAPTION, IDS["IBClose"], "--post")
    t.require(rc == PROBE_OK, f"clicking the close button failed ({rc}): {err}")
    t.expect(program.running(), "Corvamon ended at the click, in the middle of the saving")
    session.wait(BUDGET_S + 30, "the frame at the threshold, closed during the saving")
    expect_turnoff(t, sim, 5, None)
    t.expect(any(w.startswith("SaveAs") or "Save" in w for w in standin.calls()),
             f"Word's document was not saved: {standin.calls()}")
