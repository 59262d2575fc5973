#!/usr/bin/env python3
"""End-to-end tests: the real Corvamon.exe under Wine, watched with the probe, fed by upssim.

    tests/e2e/harness.py [paths] test_startup.py::no_port [more cases...]
    tests/e2e/harness.py [paths] test_startup.py          every case of a file
    tests/e2e/harness.py [paths] --list
    tests/e2e/harness.py [paths] screenshot OUT.png [--window CAPTION]

paths: --build-dir (the native build, whose wine/ folder prefix-setup.sh prepared; default
build/linux), --win-build-dir (the probe; default build/x86_64), --dist-dir (Corvamon.exe and
upssim; default dist). CORVA_EXE, CORVA_UPSSIM and CORVA_PROBE name other copies of the three.
The prefix must exist: run tests/wine/prefix-setup.sh BUILD_DIR first (ctest does it through
the "wine" fixture).

A case is a function `case_NAME(t)` in a test_*.py file next to this one; `t` is a Case. Each
case gets a fresh program folder under BUILD_DIR/e2e/NAME (kept afterwards for a look), and
whatever it starts is stopped when it ends, also when it fails. On failure the case prints what
the probe sees, the end of Corvamon's Wine log and the end of upssim's log.

Only the standard library is used.
"""

import argparse
import contextlib
import importlib.util
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(HERE))
WINE_SCRIPTS = os.path.join(SOURCE_DIR, "tests", "wine")

MAIN_CAPTION = "KRD Corvamon"
CONFIG_CAPTION = "Configuración Corvamon"
LOCATOR_CAPTION = "Buscando Equipo BRAX"
BOX_TITLE = "Corvamon"

# Control ids of the main window (monitor/win32/control_ids.h).
IDS = {
    "lblvolt": 101,
    "lblfr": 102,
    "lblbat": 103,
    "lblop": 104,
    "lblmsg": 105,
    "lblidenti": 106,
    "lbltit0": 107,
    "lbltit1": 108,
    "lbltit2": 109,
    "IBClose": 120,
    "IBMin": 121,
    "IBMute": 122,
    "IBTest": 123,
}

# Probe exit codes (tests/probe/probe.cpp).
(PROBE_OK, PROBE_NOT_YET, PROBE_USAGE, PROBE_NOT_FOUND, PROBE_NOT_CLICKABLE,
 PROBE_NO_ANSWER) = range(6)


class CaseFailure(Exception):
    """A check that must hold for the rest of the case to make sense did not."""


# ---------------------------------------------------------------- small helpers


def unescape(text):
    """The probe's escapes (\\r \\n \\t \\\\ \\xHH) back to characters."""
    def repl(m):
        s = m.group(0)
        if s[1] == "x":
            return chr(int(s[2:], 16))
        return {"\\\\": "\\", "\\r": "\r", "\\n": "\n", "\\t": "\t"}.get(s, s)
    return re.sub(r"\\(x[0-9a-fA-F]{2}|.)", repl, text)


def escape(text):
    out = text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")
    return out.replace("\t", "\\t")


def tail(path, lines=30):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return f"(cannot read {path}: {e.strerror})"
    text = data.decode("utf-8", "replace").splitlines()
    if not text:
        return "(empty)"
    return "\n".join(text[-lines:])


def read_bytes(path):
    """A file's bytes, or None when it is not there (yet)."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def windows_path(path):
    """A Linux path as Windows programs under Wine name it: Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stamp_to_epoch(stamp):
    """upssim's local time "YYYY-MM-DDTHH:MM:SS.mmm" as seconds since the epoch."""
    whole, _, millis = stamp.partition(".")
    return time.mktime(time.strptime(whole, "%Y-%m-%dT%H:%M:%S")) + int(millis or 0) / 1000


def run_to_files(args, env, timeout, cwd=None):
    """Runs a command with stdout and stderr in files, never pipes: a Wine service started on
    the way may keep its stdio for ever, and nobody must wait for it. Answers (rc, out, err);
    rc is None when the command had to be killed."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, start_new_session=True)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            kill_group(proc)
            rc = None
        except BaseException:  # the harness itself is being stopped
            kill_group(proc, grace=0.5)
            raise
        out.seek(0)
        err.seek(0)
        return rc, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def kill_group(proc, grace=3.0):
    """Ends a process started with start_new_session and everything in its group."""
    if proc.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(proc.pid, signal.SIGTERM)
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)
    with contextlib.suppress(subprocess.TimeoutExpired):
        proc.wait(timeout=grace)


def wait_until(predicate, timeout, step=0.1):
    """Polls predicate until it answers something true or the time is up; answers its last
    answer."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


# ---------------------------------------------------------------- ini files


def ini_text(sections):
    """{'Inicio': {'DataString': '&&&10'}, ...} as the text of an ini file."""
    lines = []
    for section, keys in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{k}={v}" for k, v in keys.items())
    return "\r\n".join(lines) + "\r\n"


def write_ini(path, sections):
    """Writes an ini file as Windows programs keep them: ANSI (Windows-1252), CRLF."""
    with open(path, "wb") as f:
        f.write(ini_text(sections).encode("cp1252"))


def read_ini(path):
    """Reads an ini file like the profile functions do: names without case, first value wins.
    Answers {section.lower(): {key.lower(): value}}."""
    with open(path, "rb") as f:
        text = f.read().decode("cp1252", "replace")
    sections = {}
    current = None
    for raw in text.splitlines():
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and "]" in line:
            current = sections.setdefault(line[1:line.index("]")].strip().lower(), {})
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.setdefault(key.strip().lower(), value.strip())
    return sections


# ---------------------------------------------------------------- Wine


class Wine:
    """The run's Wine prefix and display, as tests/wine/env.sh describes them."""

    def __init__(self, build_dir):
        self.build_dir = build_dir
        self.env_script = os.path.join(WINE_SCRIPTS, "env.sh")
        if not os.path.isdir(os.path.join(build_dir, "wine", "prefix")):
            raise CaseFailure(f"no Wine prefix in {build_dir}/wine: run "
                              f"tests/wine/prefix-setup.sh {build_dir} first")
        rc, out, err = run_to_files(
            ["bash", "-c", '. "$1" "$2" && env -0', "env", self.env_script, build_dir],
            os.environ.copy(), 30)
        if rc != 0:
            raise CaseFailure(f"env.sh failed: {err}")
        self.env = dict(item.split("=", 1) for item in out.split("\0") if "=" in item)
        self.log = self.env["CORVA_WINE_LOG"]

    @property
    def display(self):
        return self.env.get("DISPLAY", "")

    def shell(self, function, *args, timeout=180):
        """Runs one of env.sh's functions; answers (rc, out, err)."""
        script = '. "$1" "$2" && shift 2 && "$@"'
        return run_to_files(["bash", "-c", script, "shell", self.env_script, self.build_dir,
                             function, *args], os.environ.copy(), timeout)

    def map_com(self, port, device):
        t0 = time.monotonic()
        rc, _, err = self.shell("corva_map_com", str(port), device)
        if rc != 0:
            raise CaseFailure(f"cannot map COM{port} to {device}: {err.strip()}")
        print(f"  COM{port} -> {device} (server restarted in {time.monotonic() - t0:.1f} s)")

    def set_dpi(self, dpi):
        """The screen's DPI for the programs started from now on (restarts the wine server)."""
        t0 = time.monotonic()
        rc, _, err = self.shell("corva_set_dpi", str(dpi))
        if rc != 0:
            raise CaseFailure(f"cannot set the DPI to {dpi}: {err.strip()}")
        print(f"  LogPixels {dpi} (server restarted in {time.monotonic() - t0:.1f} s)")

    def unmap_com(self, port):
        rc, _, err = self.shell("corva_unmap_com", str(port))
        if rc != 0:
            raise CaseFailure(f"cannot unmap COM{port}: {err.strip()}")

    def server_pids(self):
        """Linux pids of the processes of this prefix: its wine server and Windows programs."""
        prefix = self.env["WINEPREFIX"].encode()
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if b"WINEPREFIX=" + prefix in environ:
                pids.append(int(entry))
        return pids


    def windows_processes(self):
        """{pid: name} of the prefix's Windows processes: server_pids() without the wine server.
        The name is the process's own (services.exe, Corvamon.exe, wineboot.exe...)."""
        found = {}
        for pid in self.server_pids():
            with contextlib.suppress(OSError):
                with open(f"/proc/{pid}/comm", "rb") as f:
                    name = f.read().decode("utf-8", "replace").strip()
                if not name.startswith("wineserver"):
                    found[pid] = name
        return found

    def restore_session(self, timeout=60):
        """Makes the prefix whole again after ExitWindowsEx ended its Wine session.

        Under Wine 8 ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE) starts `wineboot --kill --shutdown`,
        which ends every Windows process of the prefix (Wine's services, explorer.exe and the
        program that asked) a few hundred ms later, then itself. The persistent wine server
        stays, so the prefix still works, but the next Wine program would start the services
        again with its own stdio. Here they are started with their stdio on the wine log
        (corva_wine_warm), once wineboot is done; if they do not come back, the server is
        restarted. Answers whether the services run again."""
        def wineboot_running():
            return any(name.lower().startswith("wineboot")
                       for name in self.windows_processes().values())

        if wait_until(lambda: not wineboot_running(), 30, step=0.1) is False:
            print("  warning: wineboot still runs after 30 s")

        def services_up():
            return "services.exe" in self.windows_processes().values()

        self.shell("corva_wine_warm", timeout=timeout)
        if wait_until(services_up, 10):
            return True
        print("  the services did not come back after the session's end: restarting the server")
        self.shell("corva_server_restart", timeout=timeout)
        return bool(wait_until(services_up, 10))


class Probe:
    """tests/probe/probe.exe, one Wine process per question."""

    def __init__(self, wine, exe):
        if not os.path.isfile(exe):
            raise CaseFailure(f"no probe at {exe}: build the Windows tree first")
        self.wine = wine
        self.exe = exe

    def call(self, *args, timeout=60):
        rc, out, err = run_to_files(["wine", self.exe, *[str(a) for a in args]], self.wine.env,
                                    timeout)
        if rc is None:
            raise CaseFailure(f"probe {' '.join(map(str, args))} did not end in {timeout} s")
        return rc, out, err.strip()

    def lines(self, *args, **kw):
        rc, out, err = self.call(*args, **kw)
        return rc, out.splitlines(), err

    def windows(self):
        """Every top-level window: dicts with hwnd, cls, visible, pid, title."""
        # Wine now and then fails to start a process right after its server restarted: a probe
        # that could not run is asked again before the listing counts as failed.
        for _ in range(3):
            rc, lines, err = self.lines("list")
            if rc == PROBE_OK:
                break
            time.sleep(0.5)
        if rc != PROBE_OK:
            raise CaseFailure(f"probe list failed ({rc}): {err}")
        result = []
        for line in lines:
            parts = line.split("\t")
            if len(parts) == 5:
                result.append({"hwnd": parts[0], "cls": parts[1], "visible": parts[2] == "1",
                               "pid": int(parts[3]), "title": unescape(parts[4])})
        return result

    def message_boxes(self, title):
        return [w for w in self.windows()
                if w["cls"] == "#32770" and w["title"] == title and w["visible"]]

    def wait_window(self, caption, timeout_ms, visible=True):
        args = ["wait-window", caption, timeout_ms] + (["--visible"] if visible else [])
        rc, out, _ = self.call(*args)
        return out.strip() if rc == PROBE_OK else None

    def wait_gone(self, caption, timeout_ms):
        return self.call("wait-gone", caption, timeout_ms)[0] == PROBE_OK

    def texts(self, caption, timeout_ms=3000):
        """{id: (class, visible, text)} of every child window."""
        rc, lines, err = self.lines("texts", caption, timeout_ms)
        if rc != PROBE_OK:
            raise CaseFailure(f"probe texts \"{caption}\" failed ({rc}): {err}")
        result = {}
        for line in lines:
            parts = line.split("\t", 3)
            if len(parts) == 4:
                result[int(parts[0])] = (parts[1], parts[2] == "1", unescape(parts[3]))
        return result

    def text(self, caption, control_id):
        rc, out, err = self.call("text", caption, control_id)
        if rc != PROBE_OK:
            raise CaseFailure(f"probe text {control_id} failed ({rc}): {err}")
        return unescape(out.rstrip("\n"))

    def wait_text(self, caption, control_id, text, timeout_ms):
        """Answers (True, text) or (False, the reason)."""
        rc, out, err = self.call("wait-text", caption, control_id, escape(text), timeout_ms)
        seen = unescape(out.rstrip("\n"))
        # Only the text itself counts: a probe ended with the session also answers 0.
        if rc == PROBE_OK and seen == text:
            return True, seen
        return False, err or "saw %r" % seen

    def click(self, caption, control_id, *flags):
        return self.call("click", caption, control_id, *flags)

    def msgbox(self, title, timeout_ms, press=None):
        """Answers (rc, [static texts]) of a message box, pressing a button if told."""
        args = ["msgbox", title, timeout_ms] + (["--press", press] if press else [])
        rc, lines, err = self.lines(*args)
        return rc, [unescape(line) for line in lines], err

    def layout(self, caption):
        """(client width, client height, {id: (x, y, w, h, visible)}) of the window's
        descendants in its client coordinates; None when there is no such window."""
        rc, lines, _ = self.lines("layout", caption)
        if rc != PROBE_OK or not lines or not lines[0].startswith("client "):
            return None
        _, cw, ch = lines[0].split()
        children = {}
        for line in lines[1:]:
            parts = line.split()
            if len(parts) == 6:
                cid, x, y, w, h, visible = parts
                children.setdefault(int(cid), []).append(
                    (int(x), int(y), int(w), int(h), visible == "1"))
        return int(cw), int(ch), children

    def rect(self, caption):
        rc, out, _ = self.call("rect", caption)
        if rc != PROBE_OK:
            return None
        return tuple(int(v) for v in out.split())


# ---------------------------------------------------------------- programs


class Upssim:
    """The simulator on a fresh pseudo-terminal. With scenario '-' lines go in by send()."""

    # Even a harness killed outright leaves no simulator behind for long.
    LIFETIME_MS = 300000

    def __init__(self, exe, folder, args=(), stdin_scenario=False, name="upssim"):
        self.log = os.path.join(folder, f"{name}.log")
        self.out = os.path.join(folder, f"{name}.out")
        cmd = [exe, *args, "--log", self.log, "--quiet", "--exit-after", str(self.LIFETIME_MS)]
        if stdin_scenario:
            cmd[1:1] = ["--scenario", "-"]
        with open(self.out, "wb") as out:
            self.proc = subprocess.Popen(
                cmd, stdin=subprocess.PIPE if stdin_scenario else subprocess.DEVNULL,
                stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        self.pty = wait_until(self._pty_line, 10)
        if not self.pty:
            self.stop()
            raise CaseFailure(f"upssim gave no PTY line: {tail(self.out, 10)}")

    def _pty_line(self):
        with open(self.out, "rb") as f:
            first = f.readline().decode("utf-8", "replace")
        if first.startswith("PTY ") and first.endswith("\n"):
            return first.split()[1]
        if self.proc.poll() is not None:
            return "-"
        return None

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def log_lines(self):
        try:
            with open(self.log, "rb") as f:
                return f.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def tx_count(self):
        return sum(1 for line in self.log_lines() if line.startswith("TX "))

    def tx_records(self):
        """Every write so far: (ms since start, the bytes, local wall time as epoch seconds)."""
        records = []
        for line in self.log_lines():
            m = re.match(r"^TX (\d+) ((?:[0-9A-F]{2} ?)+) @(\S+)$", line)
            if m:
                records.append((int(m.group(1)), bytes.fromhex(m.group(2)),
                                stamp_to_epoch(m.group(3))))
        return records

    def rx_lines(self):
        return [line for line in self.log_lines() if line.startswith(("RX ", "CMD "))]

    def rx_records(self):
        """Every byte the monitor sent: (ms since start, the byte, local wall time as epoch
        seconds)."""
        records = []
        for line in self.log_lines():
            m = re.match(r"^RX (\d+) 0x([0-9A-Fa-f]{2})\b.* @(\S+)$", line)
            if m:
                records.append((int(m.group(1)), int(m.group(2), 16),
                                stamp_to_epoch(m.group(3))))
        return records

    def rx_bytes(self):
        return bytes(byte for _, byte, _ in self.rx_records())

    def turnoff_commands(self):
        """The turn-off commands received ("%" then the minutes): (ms since start when the
        minutes came, minutes, ms between the "%" and the minutes)."""
        found = []
        for line in self.log_lines():
            m = re.match(r'^CMD (\d+) TURN-OFF "%" \+ m=(\d+) \(gap (\d+) ms\)', line)
            if m:
                found.append((int(m.group(1)), int(m.group(2)), int(m.group(3))))
        return found

    def running(self):
        return self.proc.poll() is None

    def stop(self):
        if self.proc.stdin:
            with contextlib.suppress(OSError):
                self.proc.stdin.close()
        kill_group(self.proc)


class WindowsProgram:
    """A Windows program run under Wine in the background, its output in a log file."""

    def __init__(self, exe, wine, log, args=(), caption=None):
        self.exe = exe
        self.args = [str(a) for a in args]
        self.wine = wine
        self.log = log
        self.caption = caption
        self.proc = None

    def start(self, launcher=None, show=None):
        """Starts the program; with a launcher (the probe) and a show command, the way a
        shortcut with that show command starts it (`probe launch`)."""
        command = ["wine", self.exe, *self.args]
        if launcher is not None:
            command = ["wine", launcher, "launch", str(show), windows_path(self.exe), *self.args]
        with open(self.log, "ab") as log:
            self.proc = subprocess.Popen(command,
                                         cwd=os.path.dirname(self.exe), env=self.wine.env,
                                         stdin=subprocess.DEVNULL, stdout=log,
                                         stderr=subprocess.STDOUT, start_new_session=True)
        print(f"  started {os.path.basename(self.exe)} (pid {self.proc.pid})")

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def exit_code(self):
        return None if self.proc is None else self.proc.poll()

    def wait_end(self, timeout):
        """Waits for the program to end by itself; answers its exit code, None while it runs."""
        if self.proc is None:
            return None
        with contextlib.suppress(subprocess.TimeoutExpired):
            self.proc.wait(timeout=timeout)
        return self.proc.poll()

    def output(self):
        """What the program wrote to its log so far."""
        data = read_bytes(self.log)
        return "" if data is None else data.decode("utf-8", "replace")

    def open_files(self):
        """Linux files the running program holds open."""
        if not self.running():
            return []
        found = []
        fd_dir = f"/proc/{self.proc.pid}/fd"
        with contextlib.suppress(OSError):
            for fd in os.listdir(fd_dir):
                with contextlib.suppress(OSError):
                    found.append(os.readlink(os.path.join(fd_dir, fd)))
        return found

    def stop(self, probe=None):
        """Ends the program: `wine X.exe` is the Windows process itself, so killing it ends the
        program and the server drops its windows. The server and the other Windows processes
        of the prefix stay."""
        if self.proc is None:
            return
        kill_group(self.proc, grace=2.0)
        if probe is not None and self.caption and not probe.wait_gone(self.caption, 10000):
            print(f"  warning: \"{self.caption}\" still listed after its process ended")


class ProductProgram(WindowsProgram):
    """A copy of one of the product's programs in the case's program folder "Corvamon", as the
    product installs them: beside it the button library, the Corvamon.ini and the Bitacora.txt
    that both programs share."""

    def __init__(self, exe, folder, wine, name, caption, program_folder="Corvamon"):
        program_dir = os.path.join(folder, program_folder)
        os.makedirs(program_dir, exist_ok=True)
        copy = os.path.join(program_dir, f"{name}.exe")
        shutil.copy2(exe, copy)
        # Their buttons come from the control library installed beside them.
        library = os.path.join(os.path.dirname(exe), "lumbra.ocx")
        if os.path.exists(library):
            shutil.copy2(library, os.path.join(program_dir, "lumbra.ocx"))
        super().__init__(copy, wine, os.path.join(folder, f"{name.lower()}-wine.log"),
                         caption=caption)
        self.folder = program_dir
        self.ini = os.path.join(program_dir, "Corvamon.ini")
        self.event_log = os.path.join(program_dir, "Bitacora.txt")

    def write_ini(self, sections):
        write_ini(self.ini, sections)

    def read_ini(self):
        return read_ini(self.ini)


class Corvaset(ProductProgram):
    def __init__(self, exe, folder, wine, program_folder="Corvamon"):
        super().__init__(exe, folder, wine, "Corvaset", CONFIG_CAPTION, program_folder)


class Corvamon(ProductProgram):
    def __init__(self, exe, folder, wine, program_folder="Corvamon"):
        super().__init__(exe, folder, wine, "Corvamon", MAIN_CAPTION, program_folder)


# ---------------------------------------------------------------- screenshots


def screenshot(display, path, rect=None):
    """The whole X screen, or the part rect=(x, y, width, height), as a PNG. Answers whether
    it worked."""
    os.makedirs(os.path.dirname(os.path.abspath(path)) or ".", exist_ok=True)
    env = os.environ.copy()
    env["DISPLAY"] = display
    rc, _, err = run_to_files(["import", "-display", display, "-window", "root", path], env, 30)
    if rc != 0:
        rc, _, err = run_to_files(
            ["bash", "-c", 'xwd -root -silent -display "$1" | convert xwd:- "$2"', "shot",
             display, path], env, 30)
    if rc != 0:
        print(f"  screenshot failed: {err.strip()}")
        return False
    if rect:
        x, y, w, h = rect
        if w > 0 and h > 0:
            rc, _, err = run_to_files(["convert", path, "-crop", f"{w}x{h}+{max(x, 0)}+{max(y, 0)}",
                                       "+repage", path], env, 30)
            if rc != 0:
                print(f"  crop failed, kept the whole screen: {err.strip()}")
    return True


def client_screenshot(case, caption, part, path):
    """A PNG of part=(x, y, width, height) of the window's client area as the screen shows it
    (the frame, if any, is taken as even on the sides and below). Answers whether it worked."""
    rect, layout = case.probe.rect(caption), case.probe.layout(caption)
    if rect is None or layout is None:
        return False
    wx, wy, ww, wh = rect
    cw, ch, _ = layout
    side = (ww - cw) // 2
    top = wh - ch - side
    x, y, w, h = part
    return screenshot(case.wine.display, path, (wx + side + x, wy + top + y, w, h))


def picture_difference(shot, picture):
    """How far two pictures of one size are apart: ImageMagick's normalised RMSE (0 is the
    same), or None when they cannot be compared."""
    rc, _, err = run_to_files(["compare", "-metric", "RMSE", shot, picture, "null:"],
                              os.environ.copy(), 30)
    match = re.search(r"\(([0-9.eE+-]+)\)", err)
    return float(match.group(1)) if rc in (0, 1) and match else None


# ---------------------------------------------------------------- cases


class Case:
    """What a case works with, and the record of its checks."""

    def __init__(self, name, paths):
        self.name = name
        self.paths = paths
        self.folder = os.path.join(paths.build_dir, "e2e", name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.failures = []
        self.stack = contextlib.ExitStack()
        self.wine = Wine(paths.build_dir)
        self.probe = Probe(self.wine, paths.probe)
        self.programs = []
        self.simulators = []

    # -- things to run

    def corvamon(self, ini=None, program_folder="Corvamon"):
        """Corvamon in the case's folder `program_folder` (relative to the case's folder)."""
        exe = self.paths.corvamon
        if not os.path.isfile(exe):
            raise CaseFailure(f"no Corvamon.exe at {exe}: run scripts/build first")
        program = Corvamon(exe, self.folder, self.wine, program_folder)
        if ini is not None:
            program.write_ini(ini)
        self.programs.append(program)
        self.stack.callback(program.stop, self.probe)
        return program

    def corvaset(self, ini=None, program_folder="Corvamon"):
        """Corvaset in the case's folder `program_folder` (relative to the case's folder)."""
        exe = self.paths.corvaset
        if not os.path.isfile(exe):
            raise CaseFailure(f"no Corvaset.exe at {exe}: run scripts/build first")
        program = Corvaset(exe, self.folder, self.wine, program_folder)
        if ini is not None:
            program.write_ini(ini)
        self.programs.append(program)
        self.stack.callback(program.stop, self.probe)
        return program

    def windows_program(self, exe, *args, caption=None):
        """Any Windows program, started; stopped when the case ends."""
        if not os.path.isfile(exe):
            raise CaseFailure(f"no program at {exe}: build the Windows tree first")
        program = WindowsProgram(exe, self.wine,
                                 os.path.join(self.folder, os.path.basename(exe) + ".log"),
                                 args, caption)
        self.programs.append(program)
        self.stack.callback(program.stop, self.probe)
        program.start()
        return program

    def lock_file(self, path, hold_ms, timeout=30):
        """Has a Windows program hold `path` open with no sharing for hold_ms (the probe's
        lock; the file is made if missing). Answers the program once it holds the file; its
        output says RELEASED when it let go."""
        program = self.windows_program(self.paths.probe, "lock", windows_path(path), hold_ms)
        held = wait_until(lambda: "LOCKED" in program.output() or not program.running(), timeout)
        self.require(held and "LOCKED" in program.output(),
                     f"the probe did not lock {path}: {program.output().strip()!r}")
        return program

    def watch_session_end(self, program):
        """For a case in which Corvamon shuts Windows down: notes the prefix's other Windows
        processes now (call it once the program is up), and has the session restored when the
        case ends (see Wine.restore_session), also when the case fails. Answers a SessionEnd."""
        watch = SessionEnd(self, program)
        self.stack.callback(self.wine.restore_session)
        self.require("services.exe" in watch.others.values(),
                     f"Wine's services are not running beside Corvamon: {watch.others}")
        return watch

    def upssim(self, *args, stdin_scenario=False):
        exe = self.paths.upssim
        if not os.path.isfile(exe):
            raise CaseFailure(f"no upssim at {exe}: run scripts/build first")
        # Each simulator of a case has files of its own: the first keeps the plain names.
        n = len(self.simulators)
        sim = Upssim(exe, self.folder, args, stdin_scenario, "upssim" if n == 0 else f"upssim{n + 1}")
        self.simulators.append(sim)
        self.stack.callback(sim.stop)
        print(f"  upssim on {sim.pty}")
        return sim

    def start_on_simulator(self, ini=None, sim_args=()):
        """upssim on COM1 (waiting for commands on stdin) and Corvamon with its window shown."""
        sim = self.upssim(*sim_args, stdin_scenario=True)
        self.wine.map_com(1, sim.pty)
        program = self.corvamon(ini)
        program.start()
        self.require(self.probe.wait_window(MAIN_CAPTION, 30000) is not None,
                     f"no visible window \"{MAIN_CAPTION}\" within 30 s")
        return sim, program

    # -- checks

    def expect(self, condition, message):
        """A check whose failure is recorded; the case goes on."""
        if not condition:
            self.failures.append(message)
            print(f"  FAILED: {message}")
        return bool(condition)

    def expect_equal(self, actual, expected, what):
        return self.expect(actual == expected,
                           f"{what}: got {actual!r}, expected {expected!r}")

    def require(self, condition, message):
        """A check the rest of the case depends on: stops the case when it fails."""
        if not condition:
            raise CaseFailure(message)

    def note(self, message):
        print(f"  {message}")

    # -- diagnostics

    def diagnostics(self):
        print(f"---- diagnostics for {self.name}")
        try:
            for w in self.probe.windows():
                if w["title"] or w["visible"]:
                    print(f"  window {w['hwnd']} {w['cls']} visible={int(w['visible'])} "
                          f"pid={w['pid']} \"{escape(w['title'])}\"")
            for caption in sorted({p.caption for p in self.programs if p.caption}):
                rc, lines, err = self.probe.lines("texts", caption, 2000)
                print(f"  probe texts \"{caption}\" (exit {rc}) {err}")
                for line in lines:
                    print(f"    {line}")
            rc, lines, err = self.probe.lines("msgbox", BOX_TITLE, 0)
            if rc == PROBE_OK:
                print(f"  an open message box \"{BOX_TITLE}\": {lines}")
        except CaseFailure as e:
            print(f"  (the probe could not look: {e})")
        for program in self.programs:
            state = "running" if program.running() else f"ended, exit {program.exit_code()}"
            print(f"  {os.path.basename(program.exe)} ({state})")
            if isinstance(program, Corvamon):
                print("  Corvamon.ini:")
                with contextlib.suppress(OSError):
                    with open(program.ini, "rb") as f:
                        print("    " + f.read().decode("cp1252", "replace").replace(
                            "\r\n", "\n").replace("\n", "\n    "))
            print(f"  end of {program.log}:")
            print("    " + tail(program.log).replace("\n", "\n    "))
        for sim in self.simulators:
            print(f"  end of {sim.log}:")
            print("    " + tail(sim.log).replace("\n", "\n    "))
        # The server's own exit dumps ("0x55...:1: Fd unix_fd=...") say nothing here.
        wine_lines = [line for line in tail(self.wine.log, 400).splitlines()
                      if not re.match(r"^0x[0-9a-f]+:\d+: ", line)]
        print(f"  end of {self.wine.log}:")
        print("    " + "\n    ".join(wine_lines[-10:]))


class SessionEnd:
    """The end of the Wine session that ExitWindowsEx brings: the program that asked ends at
    once, and so does every other Windows process of the prefix (see Wine.restore_session).
    Killed that way a process exits with code 0: a probe that was running then also "succeeds",
    with nothing printed, so around a session end trust a probe's output, not its exit code."""

    def __init__(self, case, program):
        self.case = case
        self.program = program
        own = program.proc.pid if program.proc is not None else None
        self.others = {pid: name for pid, name in case.wine.windows_processes().items()
                       if pid != own}

    def wait(self, timeout, why):
        """Checks that the program ends by itself within `timeout` s with exit code 0 and that
        the Wine session ended with it: every Windows process noted at the start is gone too.
        Then restores the session. Answers the seconds the program took to end, or None when it
        did not."""
        t0 = time.monotonic()
        code = self.program.wait_end(timeout)
        took = time.monotonic() - t0
        if not self.case.expect(code is not None,
                                f"Corvamon still runs {timeout} s after {why}"):
            return None
        self.case.note(f"Corvamon ended {took:.2f} s after {why} (exit {code})")
        self.case.expect_equal(code, 0, "Corvamon's exit code at the session's end")
        alive = {}

        def others_gone():
            alive.clear()
            for pid, name in self.others.items():
                if os.path.exists(f"/proc/{pid}") and not self._zombie(pid):
                    alive[pid] = name
            return not alive

        self.case.expect(wait_until(others_gone, 5, step=0.05),
                         f"the Wine session did not end with Corvamon: still running {alive}")
        # At once, before anything else starts the services with its own stdio.
        self.case.expect(self.case.wine.restore_session(),
                         "Wine's services did not come back after the session's end")
        return took

    @staticmethod
    def _zombie(pid):
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                return f.read().rsplit(b")", 1)[1].split()[0] == b"Z"
        except (OSError, IndexError):
            return False


@contextlib.contextmanager
def wine_prefix(build_dir):
    """A prefix and display of its own for a script that is not run by ctest (the benchmarks):
    prefix-setup.sh BUILD_DIR before, prefix-cleanup.sh after, also when the script fails."""
    rc, out, err = run_to_files(["bash", os.path.join(WINE_SCRIPTS, "prefix-setup.sh"),
                                 build_dir], os.environ.copy(), 400)
    if rc != 0:
        raise CaseFailure(f"prefix-setup.sh {build_dir} failed: {(out + err).strip()}")
    try:
        yield Wine(build_dir)
    finally:
        run_to_files(["bash", os.path.join(WINE_SCRIPTS, "prefix-cleanup.sh"), build_dir],
                     os.environ.copy(), 120)


class Paths:
    def __init__(self, args):
        self.build_dir = os.path.abspath(args.build_dir)
        self.win_build_dir = os.path.abspath(args.win_build_dir)
        self.dist_dir = os.path.abspath(args.dist_dir)
        self.probe = os.environ.get("CORVA_PROBE") or os.path.join(
            self.win_build_dir, "tests", "probe", "probe.exe")
        self.probe_target = os.path.join(self.win_build_dir, "tests", "probe",
                                         "probe_target.exe")
        self.corvamon = os.environ.get("CORVA_EXE") or first_file(
            os.path.join(self.dist_dir, "x86_64", "Corvamon.exe"),
            os.path.join(self.win_build_dir, "monitor", "win32", "Corvamon.exe"))
        self.corvaset = os.environ.get("CORVA_CONFIG_EXE") or first_file(
            os.path.join(self.dist_dir, "x86_64", "Corvaset.exe"),
            os.path.join(self.win_build_dir, "config", "win32", "Corvaset.exe"))
        self.upssim = os.environ.get("CORVA_UPSSIM") or first_file(
            os.path.join(self.dist_dir, "linux", "upssim"),
            os.path.join(self.build_dir, "tools", "upssim", "upssim"))


def first_file(preferred, *others):
    """The packaged file; the build's own when nothing is packaged yet (said once)."""
    if os.path.isfile(preferred):
        return preferred
    for other in others:
        if os.path.isfile(other):
            print(f"note: {preferred} is missing; using {other}", file=sys.stderr)
            return other
    return preferred


def load_cases(file_name):
    path = file_name if os.path.isabs(file_name) else os.path.join(HERE, file_name)
    name = os.path.splitext(os.path.basename(path))[0]
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return {n[len("case_"):]: f for n, f in vars(module).items()
            if n.startswith("case_") and callable(f)}


def run_case(name, function, paths):
    print(f"==== {name}")
    t0 = time.monotonic()
    t = None
    error = None
    try:
        t = Case(name, paths)
        with t.stack:
            try:
                function(t)
            except CaseFailure as e:
                error = str(e)
            except Exception:  # a bug in the case itself: report it like a failure
                error = traceback.format_exc()
            if error or t.failures:
                t.diagnostics()
    except CaseFailure as e:
        error = str(e)
    failures = list(t.failures) if t else []
    if error:
        failures.append(error)
    verdict = "FAILED" if failures else "passed"
    print(f"==== {name}: {verdict} ({time.monotonic() - t0:.1f} s)")
    for f in failures:
        print(f"     - {f}")
    return not failures


def all_cases():
    found = []
    for file_name in sorted(os.listdir(HERE)):
        if file_name.startswith("test_") and file_name.endswith(".py"):
            found.extend(f"{file_name}::{c}" for c in load_cases(file_name))
    return found


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build", "linux"))
    parser.add_argument("--win-build-dir", default=os.path.join(SOURCE_DIR, "build", "x86_64"))
    parser.add_argument("--dist-dir", default=os.path.join(SOURCE_DIR, "dist"))
    parser.add_argument("--list", action="store_true", help="list the cases")
    parser.add_argument("items", nargs="*",
                        help="FILE::CASE or FILE, or: screenshot OUT.png [--window CAPTION]")
    args, extra = parser.parse_known_args(argv)
    paths = Paths(args)

    if args.items[:1] == ["screenshot"]:
        shot = argparse.ArgumentParser(prog="harness.py screenshot")
        shot.add_argument("out")
        shot.add_argument("--window", help="crop to this window when it can be found")
        sargs = shot.parse_args(args.items[1:] + extra)
        try:
            wine = Wine(paths.build_dir)
        except CaseFailure as e:
            print(f"screenshot: {e}", file=sys.stderr)
            return 1
        rect = None
        if sargs.window:
            try:
                rect = Probe(wine, paths.probe).rect(sargs.window)
            except CaseFailure as e:
                print(f"screenshot: the whole screen: {e}", file=sys.stderr)
        return 0 if screenshot(wine.display, sargs.out, rect) else 1
    if extra:
        parser.error(f"unknown arguments: {' '.join(extra)}")
    if args.list:
        print("\n".join(all_cases()))
        return 0

    selected = []
    for item in args.items or all_cases():
        file_name, _, case_name = item.partition("::")
        cases = load_cases(file_name)
        # Case names become folder names under BUILD_DIR/e2e: no paths in them.
        stem = os.path.splitext(os.path.basename(file_name))[0]
        if case_name:
            if case_name not in cases:
                parser.error(f"{file_name} has no case {case_name} (has: {', '.join(cases)})")
            selected.append((f"{stem}.{case_name}", cases[case_name]))
        else:
            selected.extend((f"{stem}.{n}", f) for n, f in cases.items())
    # ctest or a person stopping the run: leave through the cases' cleanups.
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda signum, frame: sys.exit(128 + signum))
    passed = sum(1 for name, function in selected if run_case(name, function, paths))
    print(f"{passed} passed, {len(selected) - passed} failed")
    return 0 if passed == len(selected) else 1


if __name__ == "__main__":
    # The cases import "harness": let them have this very module, not a second copy of it.
    sys.modules.setdefault("harness", sys.modules[__name__])
    sys.exit(main())
