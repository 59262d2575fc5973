"""Power events as the monitor reports them: the event log Bitacora.txt and the labels, fed by
upssim on COM1 — exact texts for known frames, line noise that must change nothing, and a log file
another program keeps locked for a while."""

import re
import time

from harness import IDS, MAIN_CAPTION, read_bytes, wait_until

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"Bitacora": "1", "NotifAviso": "1", "CierraconX": "1"},
}

# The frames of these cases as upssim commands. Reading 14400 (root 120) shows as 125.4 V on the
# serial link, period 16667 as 60.0 Hz; battery byte 200 is 80 % on line power.
LINE_POWER = "frame volt=14400 period=16667 battery=200 line=0 mode=0"
FAILURE = "frame volt=0 period=16667 battery=190 line=1 mode=1"   # 66.67 %: first frame, /75
ON_BATTERY = "frame volt=0 period=16667 battery=170 line=1 mode=1"  # 60.00 %: /50 from now on
RETURN = "frame volt=14400 period=16667 battery=200 line=0 mode=0"
FORCED = "frame volt=14400 period=16667 battery=150 line=0 mode=2"  # 13.33 %

# What the labels read before any status came in.
DESIGN_CAPTIONS = {"lblvolt": "0 Volts", "lblfr": "0 Hz", "lblbat": "0 %", "lblop": " Normal"}

STAMP = r"(\d\d)/(\d\d)/(\d{4})  (\d\d):(\d\d):(\d\d)"
HEADERS = ("Inicio de Monitoreo KRD ", "Corte de energía ", "Retorno de energía ",
           "Cierre Forzado ")


def entry(header, *lines):
    """One log entry as a pattern: its header with the date and time, then its tab lines."""
    text = re.escape(header) + STAMP + r"\r\n"
    text += "".join(r"\t" + re.escape(line) + r"\r\n" for line in lines)
    return text


START_ENTRY = entry("Inicio de Monitoreo KRD ", "Operacion Normal", "Voltaje 125.4 Volts",
                    "Frecuencia 60.0 Hz", "Linea Normal", "Bateria 80.00 %")
FAILURE_ENTRY = entry("Corte de energía ", "Operacion con Bateria ", "Bateria 66.67 %")
RETURN_ENTRY = entry("Retorno de energía ")
FORCED_ENTRY = entry("Cierre Forzado ", "Operacion BATERIA AGOTADA ", "Bateria 13.33 %")


def log_text(program):
    """Bitacora.txt as text (Windows-1252, as written), or None while there is none."""
    data = read_bytes(program.event_log)
    return None if data is None else data.decode("cp1252")


def entry_count(program):
    text = log_text(program) or ""
    return sum(1 for line in text.split("\r\n") if line.startswith(HEADERS))


def wait_entries(t, program, count, timeout=10):
    """Waits until the log holds `count` entries; answers whether it does."""
    ok = wait_until(lambda: entry_count(program) >= count, timeout, step=0.05)
    return t.expect(ok, f"{count} log entries expected within {timeout} s, "
                        f"the log holds {entry_count(program)}: {log_text(program)!r}")


def check_log(t, program, entries, since, until=None):
    """The whole log must be exactly these entries; every time stamp must lie within the
    case's run (since..until, epoch seconds, at the log's one-second resolution) and none may
    be earlier than the one before. Answers the entries' times (epoch seconds), [] on failure."""
    text = log_text(program)
    if not t.expect(text is not None, f"no {program.event_log}"):
        return []
    m = re.fullmatch("".join(entries), text)
    if not t.expect(m, f"the log is not the {len(entries)} expected entries: {text!r}"):
        return []
    until = time.time() if until is None else until
    stamps = []
    for i in range(len(entries)):
        day, month, year, hour, minute, second = (int(v) for v in m.groups()[6 * i:6 * i + 6])
        stamp = time.mktime((year, month, day, hour, minute, second, 0, 0, -1))
        t.expect(int(since) <= stamp <= until,
                 f"entry {i + 1}: time {time.ctime(stamp)} is not within the run "
                 f"({time.ctime(since)} .. {time.ctime(until)})")
        if stamps:
            t.expect(stamp >= stamps[-1], f"entry {i + 1} is dated before entry {i}")
        stamps.append(stamp)
    return stamps


def wait_label(t, name, want, timeout_ms=10000):
    ok, detail = t.probe.wait_text(MAIN_CAPTION, IDS[name], want, timeout_ms)
    return t.expect(ok, f"{name}: {detail}")


def labels(t):
    """{name: (visible, text)} of the labels that show the UPS's state."""
    controls = t.probe.texts(MAIN_CAPTION)
    return {name: (controls[IDS[name]][1], controls[IDS[name]][2])
            for name in ("lblvolt", "lblfr", "lblbat", "lblop", "lblmsg", "lblidenti")
            if IDS[name] in controls}


def expect_labels(t, want, when):
    got = labels(t)
    for name, text in want.items():
        t.expect_equal(got.get(name, (None, None))[1], text, f"{name} {when}")


def start_monitor(t, ini=INI, sim_args=()):
    return t.start_on_simulator(ini, sim_args)


# ---------------------------------------------------------------- the log of a power failure


def case_log_of_failure_return_and_forced_shutdown(t):
    since = time.time()
    sim, program = start_monitor(t)
    session = t.watch_session_end(program)
    t.expect(log_text(program) is None, "Bitacora.txt exists before any frame came")

    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(LINE_POWER)  # a second line-power frame writes no second start entry
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY], since)

    # More frames on battery change the labels and write nothing.
    sim.send(ON_BATTERY)
    wait_label(t, "lblbat", "60.00 %")
    sim.send("frame volt=0 battery=165 line=1 mode=1")
    wait_label(t, "lblbat", "50.00 %")
    t.expect_equal(entry_count(program), 2, "entries after three battery frames")

    sim.send(RETURN)
    wait_entries(t, program, 3)
    wait_label(t, "lblvolt", "125.4 Volts")
    sim.send(FORCED)
    wait_entries(t, program, 4)
    stamps = check_log(t, program, [START_ENTRY, FAILURE_ENTRY, RETURN_ENTRY, FORCED_ENTRY], since)
    t.note(f"entry times: {[time.strftime('%H:%M:%S', time.localtime(s)) for s in stamps]}")

    # The UPS's report shuts the PC down: Corvamon ends with the Wine session, having written
    # nothing more, and with ApagaTNX off the UPS is not told anything.
    session.wait(10, "the forced-shutdown frame")
    t.expect_equal(entry_count(program), 4, "entries once Corvamon ended")
    t.expect_equal(sim.rx_lines(), [], "what the UPS received")


def case_log_off_writes_nothing(t):
    ini = {"Inicio": dict(INI["Inicio"]), "Prefs": dict(INI["Prefs"], Bitacora="0")}
    sim, program = start_monitor(t, ini)
    # (The UPS's own shutdown report without a log is a shutdown case of its own.)
    for command in (LINE_POWER, FAILURE, RETURN):
        sim.send(command)
    sim.send("frame volt=14400 period=20000 battery=200 line=0 mode=0")
    # The last frame shows, so every one before it was read.
    wait_label(t, "lblfr", "50.0 Hz")
    t.expect(log_text(program) is None, f"Bitacora=0 and yet a log: {log_text(program)!r}")


# ---------------------------------------------------------------- labels


def case_labels_of_known_frames(t):
    sim, program = start_monitor(t)
    # (command, label to wait for, what all the labels read then)
    steps = [
        (LINE_POWER, ("lblfr", "60.0 Hz"),
         {"lblvolt": "125.4 Volts", "lblfr": "60.0 Hz", "lblbat": "80.00 %", "lblop": "Normal",
          "lblmsg": ""}),
        # Reading 5625 (root 75) is a calibration point: 96.0 V. Line status 1 is low line.
        ("frame volt=5625 period=16667 battery=190 line=1 mode=0", ("lblvolt", "96.0 Volts"),
         {"lblfr": "60.0 Hz", "lblbat": "66.67 %", "lblop": "Baja"}),
        ("frame volt=14400 period=20000 battery=215 line=2 mode=0", ("lblfr", "50.0 Hz"),
         {"lblvolt": "125.4 Volts", "lblbat": "100.00 %", "lblop": "Alta"}),
        (FAILURE, ("lblvolt", "Monitoreando Equipo"),
         {"lblfr": "60.0 Hz", "lblbat": "66.67 %", "lblop": "Bateria"}),
        ("frame volt=0 battery=190 line=1 mode=1", ("lblbat", "100.00 %"),
         {"lblvolt": "Monitoreando Equipo", "lblop": "Bateria"}),
        (ON_BATTERY, ("lblbat", "60.00 %"), {"lblvolt": "Monitoreando Equipo", "lblop": "Bateria"}),
        # A frame is read with the state it finds: the first frame back on line power still
        # divides by 50, as the first battery frame still divided by 75.
        ("frame volt=14400 period=16667 battery=165 line=0 mode=0", ("lblvolt", "125.4 Volts"),
         {"lblfr": "60.0 Hz", "lblbat": "50.00 %", "lblop": "Normal"}),
        ("frame volt=14400 period=16667 battery=165 line=0 mode=0", ("lblbat", "33.33 %"),
         {"lblvolt": "125.4 Volts", "lblop": "Normal"}),
    ]
    for command, (name, text), want in steps:
        sim.send(command)
        if not wait_label(t, name, text):
            continue
        got = labels(t)
        for label, expected in want.items():
            t.expect_equal(got.get(label, (None, None))[1], expected,
                           f"{label} after `{command}`")
        # A label counts as visible only while its window is: the return of power sends the
        # window to the notification area, and from then on no label reads as shown.
        on_battery = want.get("lblop") == "Bateria"
        window_shown = t.probe.wait_window(MAIN_CAPTION, 0, visible=True) is not None
        t.expect(window_shown or not on_battery, "the window is hidden on battery")
        if window_shown:
            t.expect_equal(got.get("lblidenti", (None, None))[0], not on_battery,
                           f"lblidenti shown after `{command}`")
        t.expect_equal(got.get("lblidenti", (None, None))[1], "Autoprueba", "lblidenti text")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


def case_labels_of_star_frames(t):
    since = time.time()
    ini = {"Inicio": {"DataString": "***9"}, "Prefs": dict(INI["Prefs"])}
    sim, program = start_monitor(t, ini, sim_args=("--kind", "star"))

    # Byte 4 is both the voltage byte and the battery byte (215: 126.0 V and 100 %); byte 7 is
    # the line status "0" and the period's low part (65 * 255 + 48 = 16623 us: 60.2 Hz).
    sim.send("frame battery=215 line=0 mode=0")
    wait_label(t, "lblfr", "60.2 Hz")
    expect_labels(t, {"lblvolt": "126.0 Volts", "lblbat": "100.00 %", "lblop": "Normal"},
                  "after a line-power *** frame")
    sent = [data for _, data, _ in sim.tx_records()]
    t.expect_equal(sent[:1], [bytes.fromhex("2A2A2A00D70041 3030".replace(" ", ""))],
                   "the *** frame upssim sent")

    sim.send("frame battery=190 line=1 mode=1")
    wait_label(t, "lblvolt", "Monitoreando Equipo")
    expect_labels(t, {"lblbat": "66.67 %", "lblop": "Bateria", "lblfr": "60.0 Hz"},
                  "after a battery *** frame")
    wait_entries(t, program, 2)
    check_log(t, program, [
        entry("Inicio de Monitoreo KRD ", "Operacion Normal", "Voltaje 126.0 Volts",
              "Frecuencia 60.2 Hz", "Linea Normal", "Bateria 100.00 %"),
        FAILURE_ENTRY,
    ], since)


# ---------------------------------------------------------------- noise


def case_noise_changes_nothing(t):
    since = time.time()
    sim, program = start_monitor(t)

    # Noise alone: nothing is decoded, nothing is logged. The labels keep their first texts.
    sim.send("noise 300")
    t.require(wait_until(lambda: sim.tx_count() >= 1, 10), "upssim sent no noise")
    time.sleep(2)  # serial events take milliseconds; this is plenty for all 300 bytes
    expect_labels(t, DESIGN_CAPTIONS, "after noise alone")
    t.expect(log_text(program) is None, f"noise alone wrote a log: {log_text(program)!r}")

    # The same frames as a clean run, each after garbage, and garbage between them: the log
    # is exactly what the frames alone write.
    sim.send("set noise=17")
    sim.send(LINE_POWER)
    wait_entries(t, program, 1)
    wait_label(t, "lblfr", "60.0 Hz")
    expect_labels(t, {"lblvolt": "125.4 Volts", "lblbat": "80.00 %", "lblop": "Normal"},
                  "after a frame behind noise")
    sim.send(FAILURE)
    sim.send("noise 40")
    sim.send(ON_BATTERY)
    wait_label(t, "lblbat", "60.00 %")
    sim.send("noise 40")
    sim.send(RETURN)
    wait_entries(t, program, 3)
    wait_label(t, "lblvolt", "125.4 Volts")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY, RETURN_ENTRY], since)

    # Noise after frames: the labels stay as the last frame left them.
    before = labels(t)
    log_before = log_text(program)
    sim.send("set noise=0")
    sim.send("noise 300")
    time.sleep(2)
    t.expect_equal(labels(t), before, "labels after noise that followed frames")
    t.expect_equal(log_text(program), log_before, "the log after noise that followed frames")
    noise_bytes = sum(len(data) for _, data, _ in sim.tx_records() if data[:3] != b"&&&")
    t.note(f"{noise_bytes} noise bytes sent")
    t.expect_equal(noise_bytes, 300 + 4 * 17 + 2 * 40 + 300, "noise bytes upssim sent")


# ---------------------------------------------------------------- a locked log


def case_locked_log_keeps_entries_and_their_time(t):
    since = time.time()
    sim, program = start_monitor(t)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    start_only = log_text(program)

    hold_ms = 6000
    lock = t.lock_file(program.event_log, hold_ms)
    locked_at = time.time()
    sim.send(FAILURE)
    t.require(wait_label(t, "lblop", "Bateria"), "the failure frame did not show")
    failure_seen = time.time()
    sim.send(ON_BATTERY)
    wait_label(t, "lblbat", "60.00 %")
    t.expect_equal(log_text(program), start_only, "the log while another program holds it")
    t.expect(program.running(), "Corvamon ended while its log was locked")

    t.require(wait_until(lambda: "RELEASED" in lock.output(), hold_ms / 1000 + 20),
              f"the lock was not released: {lock.output()!r}")
    released_at = time.time()
    # The waiting entry goes out by itself once the lock is gone, without a later event.
    t.expect(wait_entries(t, program, 2, timeout=10),
             f"the waiting entry was not written after the release: {log_text(program)!r}")

    sim.send(RETURN)
    wait_entries(t, program, 3)
    stamps = check_log(t, program, [START_ENTRY, FAILURE_ENTRY, RETURN_ENTRY], since)
    if len(stamps) == 3:
        _, failure, back = stamps
        # The failure keeps the time it happened (the log has whole seconds).
        t.expect(int(locked_at) <= failure <= failure_seen,
                 f"the failure is dated {time.ctime(failure)}, it happened between "
                 f"{time.ctime(locked_at)} and {time.ctime(failure_seen)}")
        t.expect(back >= int(released_at), f"the return is dated {time.ctime(back)}, before "
                                           f"the lock ended at {time.ctime(released_at)}")
        held = released_at - failure_seen
        t.expect(back - failure >= int(held),
                 f"the failure is dated only {back - failure:.0f} s before the return; it "
                 f"waited {held:.1f} s")
        t.note(f"failure and return {back - failure:.0f} s apart (waited {held:.1f} s)")


def case_locked_before_the_first_entry(t):
    # The lock makes the file, empty, before the monitor wrote anything: the start entry waits
    # too, and all of them come out in order with their own times.
    since = time.time()
    sim, program = start_monitor(t)
    lock = t.lock_file(program.event_log, 7000)
    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "the first frame did not show")
    start_seen = time.time()
    time.sleep(2.2)  # a failure dated at least two seconds after the start
    sim.send(FAILURE)
    t.require(wait_label(t, "lblop", "Bateria"), "the failure frame did not show")
    failure_seen = time.time()
    t.expect_equal(log_text(program), "", "the log while another program holds it")

    t.require(wait_until(lambda: "RELEASED" in lock.output(), 30),
              f"the lock was not released: {lock.output()!r}")
    sim.send(RETURN)
    wait_entries(t, program, 3)
    stamps = check_log(t, program, [START_ENTRY, FAILURE_ENTRY, RETURN_ENTRY], since)
    if len(stamps) == 3:
        start, failure, back = stamps
        t.expect(start <= start_seen, f"the start entry is dated {time.ctime(start)}, after "
                                      f"its frame showed at {time.ctime(start_seen)}")
        t.expect(failure - start >= 2, f"start and failure only {failure - start:.0f} s apart")
        t.expect(failure <= failure_seen and back > failure,
                 f"times out of order: {[time.ctime(s) for s in stamps]}")
