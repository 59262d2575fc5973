"""Other computers follow this UPS over the NUT network protocol: Corvamon serves it with
[Red] Servidor=1, and Debian's own NUT clients (upsc, upsmon) are its clients on 127.0.0.1."""

import os
import random
import socket
import subprocess
import time

from harness import (BOX_TITLE, CONFIG_CAPTION, IDS, MAIN_CAPTION, PROBE_NOT_YET, PROBE_OK,
                     wait_until)
from test_config import close_config
from test_events import FAILURE, INI, LINE_POWER, ON_BATTERY, wait_label
from test_shutdown import settings

USER, PASSWORD = "seguidor", "clave-secreta"
# Debian's /usr/sbin/upsmon is a wrapper that wants /etc/nut/nut.conf; the program itself:
UPSMON = "/lib/nut/upsmon"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def network_ini(port, prefs=None, red=None, **apaga):
    ini = settings(prefs, **apaga)
    ini["Red"] = dict({"Servidor": "1", "Puerto": str(port), "Usuario": USER, "Clave": PASSWORD},
                      **(red or {}))
    return ini


def upsc(*args, timeout=10):
    """upsc's output and exit code."""
    proc = subprocess.run(["upsc", *args], capture_output=True, text=True, timeout=timeout,
                          check=False)
    return proc.returncode, proc.stdout + proc.stderr


def upsc_vars(port):
    rc, out = upsc(f"ups@127.0.0.1:{port}")
    if rc != 0:
        return None
    found = {}
    for line in out.splitlines():
        name, sep, value = line.partition(": ")
        if sep:
            found[name] = value
    return found


class Client:
    """A plain NUT client on one connection: a line out, the answer's lines in."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.buffer = b""

    def ask(self, line, lines=1):
        self.sock.sendall(line.encode() + b"\n")
        got = []
        while len(got) < lines:
            while b"\n" not in self.buffer:
                chunk = self.sock.recv(4096)
                if not chunk:
                    return got + ([self.buffer.decode()] if self.buffer else [])
                self.buffer += chunk
            line_bytes, self.buffer = self.buffer.split(b"\n", 1)
            got.append(line_bytes.decode())
        return got

    def close(self):
        self.sock.close()


def start(t, port, **kw):
    sim, program = t.start_on_simulator(network_ini(port, **kw))
    listening = wait_until(lambda: upsc_list(port) == ["ups"], 20)
    t.require(listening, f"nothing answers on port {port}: {upsc('-l', f'127.0.0.1:{port}')[1]}")
    return sim, program


def upsc_list(port):
    proc = subprocess.run(["upsc", "-l", f"127.0.0.1:{port}"], capture_output=True, text=True,
                          timeout=10, check=False)
    return proc.stdout.split()


def case_upsc_reads_what_the_window_shows(t):
    port = free_port()
    sim, program = start(t, port, ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1,
                         ApagaTNXMinutos=5)
    t.expect_equal(upsc_list(port), ["ups"], "upsc -l")

    # Before the first frame there is no data to serve, never a made-up "OL".
    rc, out = upsc(f"ups@127.0.0.1:{port}", "ups.status")
    t.expect(rc != 0 and "stale" in out.lower(), f"before any frame upsc read: {out!r}")

    sim.send(LINE_POWER + " repeat=3")
    wait_label(t, "lblbat", "80.00 %")
    got = wait_until(lambda: upsc_vars(port), 5)
    t.require(got, "upsc read nothing after a frame")
    shown = {name: t.probe.text(MAIN_CAPTION, IDS[name]) for name in ("lblbat", "lblvolt", "lblfr")}
    t.expect_equal(got.get("battery.charge"), shown["lblbat"].replace(" %", ""), "battery.charge")
    t.expect_equal(got.get("output.voltage"), shown["lblvolt"].replace(" Volts", ""),
                   "output.voltage")
    t.expect_equal(got.get("output.frequency"), shown["lblfr"].replace(" Hz", ""),
                   "output.frequency")
    t.expect_equal(got.get("ups.status"), "OL", "ups.status on line power")
    for name, value in (("device.type", "ups"), ("driver.name", "corvamon"),
                        ("battery.charge.low", "30"), ("ups.timer.shutdown", "-1"),
                        ("ups.delay.shutdown", "300")):
        t.expect_equal(got.get(name), value, name)
    t.expect(got.get("ups.beeper.status") in ("enabled", "disabled"),
             f"ups.beeper.status {got.get('ups.beeper.status')!r}")

    # A failure frame reads as OB within a second of leaving the UPS.
    failure_frame = bytes.fromhex("262626 0000 BE 415C 3131".replace(" ", ""))
    sim.send(FAILURE)
    ob = wait_until(lambda: (upsc_vars(port) or {}).get("ups.status") == "OB", 10, step=0.02)
    seen = time.time()
    sent = [epoch for _, data, epoch in sim.tx_records() if data == failure_frame]
    t.require(ob and sent, f"ups.status never read OB (failure frame sent: {bool(sent)})")
    took = seen - sent[-1]
    t.expect(took <= 1.0, f"ups.status OB {took:.2f} s after the failure frame")
    t.note(f"OB seen by upsc {took:.2f} s after the failure frame left upssim")

    # When the UPS stops talking, upsc says the data is stale within 15 s.
    sim.stop()
    t0 = time.monotonic()
    stale = wait_until(lambda: "stale" in upsc(f"ups@127.0.0.1:{port}", "ups.status")[1].lower(),
                       20, step=0.5)
    t.expect(stale and time.monotonic() - t0 <= 15,
             f"no 'Data stale' within 15 s ({time.monotonic() - t0:.1f} s)")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


def case_accounts_addresses_and_the_switch(t):
    port = free_port()
    sim, program = start(t, port)
    sim.send(LINE_POWER + " repeat=2")
    wait_label(t, "lblbat", "80.00 %")

    client = Client(port)
    t.expect_equal(client.ask(f"USERNAME {USER}"), ["OK"], "USERNAME")
    t.expect_equal(client.ask("PASSWORD otra"), ["OK"], "PASSWORD")
    t.expect_equal(client.ask("LOGIN ups"), ["ERR ACCESS-DENIED"], "LOGIN with a wrong password")
    t.expect_equal(client.ask("PASSWORD " + PASSWORD), ["ERR ALREADY-SET-PASSWORD"],
                   "a second PASSWORD")
    t.expect_equal(client.ask("GET NUMLOGINS ups"), ["NUMLOGINS ups 0"], "NUMLOGINS")
    for line in ("SET VAR ups ups.beeper.status disabled", "INSTCMD ups shutdown.return",
                 "FSD ups", "PRIMARY ups"):
        t.expect_equal(client.ask(line), ["ERR ACCESS-DENIED"], line)
    client.close()
    program.stop(t.probe)
    sim.stop()

    # Permitidos that leaves 127.0.0.1 out: upsc gets nothing.
    port = free_port()
    sim, program = t.start_on_simulator(network_ini(port, red={"Permitidos": "192.0.2.0/24"}))
    sim.send(LINE_POWER + " repeat=2")
    wait_label(t, "lblbat", "80.00 %")
    rc, out = upsc(f"ups@127.0.0.1:{port}", "ups.status")
    t.expect(rc != 0, f"a client outside Permitidos read: {out!r}")
    program.stop(t.probe)
    sim.stop()

    # Servidor off (the default): nothing listens.
    port = free_port()
    sim, program = t.start_on_simulator(network_ini(port, red={"Servidor": "0"}))
    sim.send(LINE_POWER + " repeat=2")
    wait_label(t, "lblbat", "80.00 %")
    with socket.socket() as s:
        s.settimeout(2)
        t.expect(s.connect_ex(("127.0.0.1", port)) != 0, "something listens with Servidor=0")


def case_floods_and_garbage_leave_it_serving(t):
    port = free_port()
    sim, program = start(t, port)
    sim.send(LINE_POWER + " repeat=2")
    wait_label(t, "lblbat", "80.00 %")

    # 40 clients at once: 32 are served, the rest closed; none of it holds the window up.
    clients = []
    for _ in range(40):
        with_socket = socket.socket()
        with_socket.settimeout(5)
        with_socket.connect(("127.0.0.1", port))
        clients.append(with_socket)
    answered = 0
    for s in clients:
        try:
            s.sendall(b"VER\n")
            if s.recv(100):
                answered += 1
        except OSError:
            pass
    t.expect_equal(answered, 32, "clients of 40 that were answered")
    sim.send(FAILURE)
    wait_label(t, "lblop", "Bateria")
    for s in clients:
        s.close()

    # A 1 MB line with no newline, and random bytes.
    big = socket.create_connection(("127.0.0.1", port), timeout=5)
    try:
        big.sendall(b"A" * (1 << 20))
    except OSError:
        pass  # closed on the way: as it should be
    big.close()
    rng = random.Random(3493)
    for _ in range(20):
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            try:
                s.sendall(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 3000))))
            except OSError:
                pass

    sim.send(ON_BATTERY)
    wait_label(t, "lblbat", "60.00 %")
    got = wait_until(lambda: upsc_vars(port), 10)
    t.expect(got and got.get("battery.charge") == "60.00",
             f"a fresh upsc after the abuse read {got}")
    t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


UPSMON_CONF = """MONITOR ups@127.0.0.1:{port} 1 {user} {password} secondary
MINSUPPLIES 1
SHUTDOWNCMD "/bin/sh -c 'date +%s.%N > {flag}'"
POLLFREQ 1
POLLFREQALERT 1
HOSTSYNC 5
DEADTIME 15
FINALDELAY 0
POWERDOWNFLAG {state}/killpower
RUN_AS_USER root
"""


def case_upsmon_follows_the_shutdown(t):
    """A real upsmon, secondary, logs in; on a threshold shutdown it sees FSD and runs its
    SHUTDOWNCMD, and the UPS gets its "%" only after that and after upsmon has left."""
    port = free_port()
    sim, program = start(t, port, ApagaPorcentaje=1, ApagaQuePorcentaje=30, ApagaTNX=1,
                         ApagaTNXMinutos=5)
    session = t.watch_session_end(program)
    sim.send(LINE_POWER + " repeat=2")
    wait_label(t, "lblbat", "80.00 %")

    conf = os.path.join(t.folder, "nut")
    os.makedirs(conf, exist_ok=True)
    flag = os.path.join(conf, "shutdown-ran")
    with open(os.path.join(conf, "upsmon.conf"), "w") as f:
        f.write(UPSMON_CONF.format(port=port, user=USER, password=PASSWORD, flag=flag,
                                   state=conf))
    os.chmod(os.path.join(conf, "upsmon.conf"), 0o600)
    env = dict(os.environ, NUT_CONFPATH=conf, NUT_STATEPATH=conf)
    log = open(os.path.join(conf, "upsmon.log"), "w")
    upsmon = subprocess.Popen([UPSMON, "-D", "-u", "root"], env=env, stdout=log,
                              stderr=subprocess.STDOUT, start_new_session=True)
    t.stack.callback(lambda: upsmon.poll() is None and upsmon.kill())

    def numlogins():
        try:
            c = Client(port)
            answer = c.ask("GET NUMLOGINS ups")
            c.close()
            return answer
        except OSError:
            return None
    t.expect(wait_until(lambda: numlogins() == ["NUMLOGINS ups 1"], 20),
             f"upsmon did not log in: {numlogins()}")

    sim.send(FAILURE)
    wait_label(t, "lblop", "Bateria")
    sim.send("frame volt=0 period=16667 battery=155 line=1 mode=1")  # 30.00 %: at it
    session.wait(60, "the frame at the threshold")
    t.expect(os.path.exists(flag), "upsmon never ran its SHUTDOWNCMD")
    left = wait_until(lambda: upsmon.poll() is not None, 10)
    commands = sim.turnoff_commands()
    t.require(commands, f"no turn-off command reached the UPS: {sim.rx_lines()}")
    percent_at = sim.rx_records()[0][2]
    if os.path.exists(flag):
        with open(flag) as f:
            ran_at = float(f.read().strip())
        t.note(f"upsmon's SHUTDOWNCMD ran {percent_at - ran_at:.2f} s before the \"%\"")
        t.expect(ran_at < percent_at, "the \"%\" reached the UPS before upsmon shut down")
    t.expect(left, "upsmon still runs after the shutdown")
    log.close()


def case_a_port_in_use_is_said_once_and_the_monitor_runs_on(t):
    """Another program holds the port: the box says so once, and the monitor reads the UPS
    without the server."""
    with socket.socket() as taken:
        taken.bind(("0.0.0.0", 0))
        taken.listen(1)
        port = taken.getsockname()[1]
        sim, program = t.start_on_simulator(network_ini(port, red={"Escucha": "0.0.0.0"}))
        rc, texts, err = t.probe.msgbox(BOX_TITLE, 20000, press="OK")
        t.require(rc == PROBE_OK, f"no box about the port ({err})")
        t.expect_equal(texts, [f"No pude abrir el puerto de red {port}\r\n"
                               "Los otros equipos no verán el estado de la UPS"], "the box")
        sim.send(LINE_POWER + " repeat=2")
        wait_label(t, "lblbat", "80.00 %")
        rc, _, _ = t.probe.msgbox(BOX_TITLE, 1500)
        t.expect(rc == PROBE_NOT_YET, "a second box came")
        t.expect(program.running(), f"Corvamon ended (exit {program.exit_code()})")


def case_corvaset_leaves_the_network_section_as_it_was(t):
    red = {"Servidor": "1", "Puerto": "3493", "Permitidos": "192.168.1.0/24,::1/128",
           "Usuario": "monuser", "Clave": "secret", "EsperaSecundarios": "30"}
    config = t.corvaset({"Inicio": {"CommPort": "3", "DataString": "&&&10"}, "Red": red})
    config.start()
    t.require(t.probe.wait_window(CONFIG_CAPTION, 30000) is not None, "no Corvaset window")
    close_config(t, config)
    t.expect_equal(config.read_ini().get("red"), {k.lower(): v for k, v in red.items()},
                   "[Red] after Corvaset saved")
