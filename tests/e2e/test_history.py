"""The power history Historial.csv as the real Corvamon writes it from upssim's frames: a row for
each minute that had frames and a row for each power event, in order and once; none at all with
[Prefs] Historial=0."""

import datetime
import os
import time

from harness import read_bytes, wait_until

INI = {
    "Inicio": {"DataString": "&&&10"},
    "Prefs": {"Bitacora": "1", "NotifAviso": "1", "CierraconX": "1"},
}

LINE_POWER = "frame volt=14400 period=16667 battery=200 line=0 mode=0"  # 125.4 V, 60.0 Hz
FAILURE = "frame volt=0 period=16667 battery=190 line=1 mode=1"
ON_BATTERY = "frame volt=0 period=16667 battery=170 line=1 mode=1"
RETURN = LINE_POWER

HALF_SECOND = 500


def history_path(program):
    return os.path.join(program.folder, "Historial.csv")


def read_history(program):
    """(separator, [(epoch, kind, fields)]) of Historial.csv; None while there is none."""
    data = read_bytes(history_path(program))
    if data is None:
        return None
    text = data.decode("utf-8")
    lines = text.split("\r\n")
    names = lines[0].lstrip("\ufeff")
    # The column names' separator is the one the rows use.
    separator = names[len("Fecha y hora")]
    rows = []
    for line in lines[1:]:
        if not line:
            continue
        fields = line.split(separator)
        stamp = datetime.datetime.fromisoformat(fields[0]).timestamp()
        rows.append((stamp, fields[1], fields))
    return separator, rows


def send_for(sim, frame, seconds):
    """Frames every half second for about `seconds`."""
    sim.send(f"{frame} repeat={max(1, int(seconds * 2))} interval={HALF_SECOND}")


def case_minutes_and_events_of_a_failure(t):
    sim, program = t.start_on_simulator(INI)
    start = time.time()
    # Line power, a failure of about ten seconds, the return: then line power until a frame of
    # the minute after the next one has come, so that two whole minutes are closed.
    send_for(sim, LINE_POWER, 4)
    sim.send(FAILURE)
    send_for(sim, ON_BATTERY, 10)
    sim.send(RETURN)
    end_minute = (int(start) // 60 + 2) * 60
    send_for(sim, LINE_POWER, end_minute - time.time() + 2)

    def events_and_minutes():
        history = read_history(program)
        if history is None:
            return False
        minutes = [r for r in history[1] if r[1] == "Minuto"]
        return minutes and minutes[-1][0] >= end_minute - 60

    t.require(wait_until(events_and_minutes, end_minute - time.time() + 30, step=0.5),
              f"no row for the minute before {time.ctime(end_minute)}: "
              f"{read_bytes(history_path(program))!r}")
    separator, rows = read_history(program)
    decimal = "," if separator == ";" else "."
    t.note(f"separator {separator!r}; rows: {[(time.strftime('%H:%M:%S', time.localtime(r[0])), r[1]) for r in rows]}")

    kinds = [kind for _, kind, _ in rows]
    t.expect_equal([k for k in kinds if k != "Minuto"], ["Corte de energía", "Retorno de energía"],
                   "event rows")
    minutes = [r for r in rows if r[1] == "Minuto"]
    stamps = [r[0] for r in minutes]
    t.expect_equal(stamps, sorted(set(stamps)), "minutes in order and each once")
    first = int(start) // 60 * 60
    t.expect(stamps and stamps[0] in (first, first + 60) and all(
        b - a == 60 for a, b in zip(stamps, stamps[1:])),
        f"a row for every minute with frames, from the first: {stamps}")

    # Each event lies in its place among the minutes, at its second.
    failure = next(r for r in rows if r[1] == "Corte de energía")[0]
    back = next(r for r in rows if r[1] == "Retorno de energía")[0]
    t.expect(start <= failure < back <= time.time(), "event times within the run, in order")
    t.expect(6 <= back - failure <= 16, f"the failure lasted {back - failure} s")

    on_battery = sum(int(fields[8]) for _, _, fields in minutes)
    t.expect(abs(on_battery - (back - failure)) <= 3,
             f"{on_battery} s on battery in the minute rows, {back - failure} s between events")
    for stamp, _, fields in minutes:
        where = time.strftime("%H:%M", time.localtime(stamp))
        t.expect_equal(fields[9], "Normal", f"line state at {where}")
        if int(fields[8]) < 60:
            t.expect_equal(fields[3], f"125{decimal}4", f"mean voltage at {where}")
            t.expect_equal(fields[5], f"60{decimal}0", f"lowest frequency at {where}")
        t.expect(fields[7] != "", f"battery at {where}")


def case_historial_0_writes_no_history(t):
    ini = {"Inicio": dict(INI["Inicio"]), "Prefs": dict(INI["Prefs"], Historial="0")}
    sim, program = t.start_on_simulator(ini)
    for command in (LINE_POWER, FAILURE, RETURN):
        sim.send(command)
    # The return's log entry is written after its history row would have been.
    t.require(wait_until(lambda: b"Retorno de energ" in (read_bytes(program.event_log) or b""),
                         15, step=0.1), "no log entry for the return")
    t.expect(read_bytes(history_path(program)) is None, "Historial=0 and yet a history")
