"""Shutting the PC down, fed by upssim on COM1: each rule that decides it (battery threshold,
battery time, the UPS's own report, overload), the log entry it writes, the turn-off command the
UPS receives, and the end of the Wine session that ExitWindowsEx brings.

Under Wine the shutdown ends every Windows process of the prefix, Corvamon with them; each case
has the prefix's services started again right after (Case.watch_session_end, SessionEnd.wait)."""

import time

from harness import IDS, MAIN_CAPTION, CaseFailure, wait_until
from test_events import (FAILURE, FAILURE_ENTRY, FORCED, INI, LINE_POWER, ON_BATTERY, START_ENTRY,
                         check_log, entry, log_text, start_monitor, wait_entries, wait_label)


def settings(prefs=None, **apaga):
    """Corvamon.ini of these cases: INI's, with [Prefs] changes and the [Apaga] keys given."""
    return {"Inicio": dict(INI["Inicio"]), "Prefs": dict(INI["Prefs"], **(prefs or {})),
            "Apaga": {k: str(v) for k, v in apaga.items()}}


def threshold_entry(battery):
    return entry("Apagado por bateria a nivel personalizado ", "Operacion Bateria",
                 f"Bateria {battery}")


def time_entry(battery):
    return entry("Apagado por tiempo a nivel personalizado ", "Operacion Bateria",
                 f"Bateria {battery}")


def sent_frame_ms(sim, frame_hex):
    """When upssim wrote the frame with these bytes last (ms since its start), or None."""
    wanted = bytes.fromhex(frame_hex.replace(" ", ""))
    times = [ms for ms, data, _ in sim.tx_records() if data == wanted]
    return times[-1] if times else None


def expect_turnoff(t, sim, minutes, after_ms):
    """The UPS got exactly one turn-off command, "%" then `minutes` about 1.2 s later, after
    the frame upssim wrote at `after_ms`, and no other byte."""
    commands = wait_until(sim.turnoff_commands, 5, step=0.05)
    if not t.expect(commands, f"no turn-off command reached the UPS: {sim.rx_lines()}"):
        return
    t.expect_equal(len(commands), 1, "turn-off commands the UPS got")
    at, got_minutes, gap = commands[0]
    t.note(f"turn-off at {at} ms: m={got_minutes}, {gap} ms after the \"%\"")
    t.expect_equal(got_minutes, minutes, "minutes of the turn-off command")
    t.expect(1100 <= gap <= 1800, f"\"%\" and the minutes {gap} ms apart, not about 1.2 s")
    t.expect_equal(sim.rx_bytes(), bytes([0x25, minutes]), "every byte the UPS received")
    first = sim.rx_records()[0][0] if sim.rx_records() else None
    if after_ms is not None and first is not None:
        t.expect(after_ms <= first <= after_ms + 3000,
                 f"the \"%\" came at {first} ms, the deciding frame went at {after_ms} ms")


def expect_nothing_sent(t, sim, when):
    time.sleep(0.3)  # upssim logs a byte within milliseconds of its arrival
    t.expect_equal(sim.rx_lines(), [], f"what the UPS received {when}")


def expect_running(t, program, when):
    t.expect(program.running(), f"Corvamon ended {when} (exit {program.exit_code()})")


# ---------------------------------------------------------------- battery threshold


def case_threshold_logs_signals_the_ups_and_shuts_down(t):
    since = time.time()
    ini = settings(ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1, ApagaTNXMinutos=5)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)

    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)                                   # 66.67 %
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    sim.send(ON_BATTERY)                                # 60.00 %
    wait_label(t, "lblbat", "60.00 %")
    sim.send("frame volt=0 period=16667 battery=156 line=1 mode=1")  # 32.00 %: above 30
    wait_label(t, "lblbat", "32.00 %")
    expect_running(t, program, "above the threshold")
    expect_nothing_sent(t, sim, "above the threshold")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY], since)

    sim.send("frame volt=0 period=16667 battery=155 line=1 mode=1")  # 30.00 %: at it
    session.wait(15, "the frame at the threshold")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY, threshold_entry("30.00 %")], since)
    expect_turnoff(t, sim, 5, sent_frame_ms(sim, "262626 0000 9B 415C 3131"))


def case_threshold_with_the_log_locked_still_logs_its_decision(t):
    """Another program holds Bitacora.txt when the threshold is reached. The decision's entry
    waits; the shutdown waits a few seconds for the lock to go, and the entry is in the log
    before the session ends."""
    since = time.time()
    ini = settings({"Bitacora": "1"}, ApagaPorcentaje=1, ApagaQuePorcentaje=30)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")

    hold_ms = 2500
    lock = t.lock_file(program.event_log, hold_ms)
    sim.send("frame volt=0 period=16667 battery=155 line=1 mode=1")  # 30.00 %: at it
    session.wait(20, "the frame at the threshold")
    t.expect("RELEASED" in lock.output() or wait_until(lambda: "RELEASED" in lock.output(), 5),
             f"the lock was not released: {lock.output()!r}")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY, threshold_entry("30.00 %")], since)


# ---------------------------------------------------------------- battery time


COUNTDOWN = ["Apagar en 4 segundos", "Apagar en 3 segundos", "Apagar en 2 segundos",
             "Apagar en 1 segundos", "Apagando la PC"]


def watch_lblmsg(t, program, until, timeout):
    """lblmsg's texts as they change, read with the probe until it reads `until`: answers
    [(seconds since the call, text)], one item per change."""
    seen = []
    t0 = time.monotonic()
    while time.monotonic() - t0 < timeout:
        try:
            text = t.probe.text(MAIN_CAPTION, IDS["lblmsg"])
        except CaseFailure:
            t.require(program.running(), f"Corvamon ended while counting down, lblmsg having "
                                         f"read {[text for _, text in seen]}")
            raise
        if not seen or seen[-1][1] != text:
            seen.append((time.monotonic() - t0, text))
        if text == until:
            break
    return seen


def is_in_order(items, order):
    """Whether items appear in `order`, in its order, each at most once."""
    at = 0
    for item in items:
        if item not in order[at:]:
            return False
        at = order.index(item, at) + 1
    return True


def case_battery_time_counts_down_and_the_next_frame_shuts_down(t):
    since = time.time()
    # Without Bitacora: the shutdown entry is written all the same, and it is the only one.
    ini = settings({"Bitacora": "0"}, ApagaMinutos=1, ApagaCuantosMinutos=5, ApagaTNX=0)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "the line-power frame did not show")

    sim.send(FAILURE)
    seen = watch_lblmsg(t, program, COUNTDOWN[-1], 15)
    ran_out = time.time()
    texts = [text for _, text in seen if text]
    t.note(f"lblmsg: {[(round(s, 1), text) for s, text in seen]}")
    t.require(texts and texts[-1] == COUNTDOWN[-1],
              f"lblmsg never read \"{COUNTDOWN[-1]}\": {texts}")
    t.expect(texts[0] == COUNTDOWN[0] and is_in_order(texts, COUNTDOWN),
             f"the countdown read {texts}, expected (in order) {COUNTDOWN}")
    frame_at = [stamp for _, data, stamp in sim.tx_records() if data[8:10] == b"11"]
    if t.expect(frame_at, "no battery frame in upssim's log"):
        # Five one-second ticks, then the probe's own time to read (about 0.3 s a call).
        took = ran_out - frame_at[0]
        t.note(f"\"{COUNTDOWN[-1]}\" read {took:.2f} s after the battery frame")
        t.expect(4.8 <= took <= 8.0, f"\"{COUNTDOWN[-1]}\" read {took:.1f} s after the frame")

    # The tick that reaches zero decides nothing: the next battery frame does.
    time.sleep(1.5)
    expect_running(t, program, "when the countdown ran out, before another frame")
    t.expect_equal(t.probe.text(MAIN_CAPTION, IDS["lblmsg"]), COUNTDOWN[-1],
                   "lblmsg as the countdown goes past zero")
    t.expect(log_text(program) is None, f"a log before the deciding frame: {log_text(program)!r}")

    sim.send("frame volt=0 period=16667 battery=180 line=1 mode=1")  # 80.00 %
    session.wait(10, "the battery frame after the countdown")
    check_log(t, program, [time_entry("80.00 %")], since)
    expect_nothing_sent(t, sim, "with ApagaTNX=0")


# ---------------------------------------------------------------- the UPS's own report


def case_ups_shutdown_report_logs_signals_and_shuts_down(t):
    since = time.time()
    ini = settings(ApagaTNX=1, ApagaTNXMinutos=3)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    sim.send(FAILURE)
    t.require(wait_entries(t, program, 2), "no entry for the failure")
    expect_running(t, program, "on battery with no shutdown rule on")

    # The battery is exhausted and the UPS says it is shutting down: 20.00 % on battery.
    sim.send("frame volt=0 period=16667 battery=150 line=1 mode=2")
    session.wait(15, "the UPS's shutdown report")
    check_log(t, program, [START_ENTRY, FAILURE_ENTRY,
                           entry("Cierre Forzado ", "Operacion BATERIA AGOTADA ",
                                 "Bateria 20.00 %")], since)
    expect_turnoff(t, sim, 3, sent_frame_ms(sim, "262626 0000 96 415C 3132"))


def case_ups_shutdown_report_without_bitacora_writes_nothing(t):
    ini = settings({"Bitacora": "0"})
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_label(t, "lblfr", "60.0 Hz"), "the line-power frame did not show")
    sim.send(FORCED)
    session.wait(10, "the UPS's shutdown report")
    t.expect(log_text(program) is None, f"Bitacora=0 and yet a log: {log_text(program)!r}")
    expect_nothing_sent(t, sim, "with ApagaTNX unset")


# ---------------------------------------------------------------- overload


def case_overload_shuts_down_without_an_entry(t):
    since = time.time()
    ini = settings(ApagaTNX=0)
    sim, program = start_monitor(t, ini)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER)
    t.require(wait_entries(t, program, 1), "no start entry")
    t.require(wait_label(t, "lblop", "Normal"), "the line-power frame did not show")

    # A probe waits for the label in the background: the shutdown follows the label at once.
    # The session's end kills that probe too, with exit code 0, so only its output counts.
    watcher = t.windows_program(t.paths.probe, "wait-text", MAIN_CAPTION, IDS["lblop"],
                                "Sobrecarga", 20000, "--ready")
    # The probe says READY once it has read the label: from then on it is polling.
    t.require(wait_until(lambda: "READY" in watcher.output() or not watcher.running(), 30),
              "the probe watching lblop did not start within 30 s")
    t.require(watcher.running(), f"the probe watching lblop ended early: {watcher.output()!r}")
    sim.send("frame volt=14400 period=16667 battery=200 line=3 mode=0")
    session.wait(10, "the overload frame")
    watcher.wait_end(10)
    t.note(f"the watching probe: exit {watcher.exit_code()}, "
           f"output {watcher.output().strip()!r}")
    # The shutdown follows the label within the same frame: the window may be gone before the
    # probe's next read, so the label is only noted; the shutdown, the log and the port are the
    # checks.
    t.note("lblop read \"Sobrecarga\" before the session ended" if "Sobrecarga" in
           watcher.output().splitlines() else "the session ended before lblop was read again")
    check_log(t, program, [START_ENTRY], since)
    expect_nothing_sent(t, sim, "with ApagaTNX=0")
