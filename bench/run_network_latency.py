#!/usr/bin/env python3
"""What the network server costs and how fast it tells, with the real Corvamon.exe under Wine
serving the NUT protocol on 127.0.0.1:

1. failure frame -> "OB" seen by a client that asks `GET VAR ups ups.status` as fast as it can
   (from upssim's TX stamp of the frame to the first answer that reads OB);
2. failure frame -> "Corte de energía " in Bitacora.txt, with no client and with 32 clients
   hammering `LIST VAR ups`, in one run. The ratio of the medians should stay at or below 1.2.

Needs the build (scripts/build). From the source folder:

    python3 bench/run_network_latency.py                  # 100 + 2 x 40 failures
    python3 bench/run_network_latency.py --failures 200 --log-failures 60

Makes a Wine prefix of its own in build/bench unless --reuse-prefix (see
run_failure_latency.py, whose session, file watch and figures it shares).
"""

import os
import random
import socket
import statistics
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import run_failure_latency as fl  # noqa: E402
from run_failure_latency import harness  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Connection:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def ask(self, line, until):
        """Sends a line and reads until a line starting with `until` has come; answers the
        lines."""
        self.sock.sendall(line)
        lines = []
        while True:
            while b"\n" not in self.buffer:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise OSError("closed by the server")
                self.buffer += chunk
            one, self.buffer = self.buffer.split(b"\n", 1)
            lines.append(one)
            if one.startswith(until):
                return lines

    def close(self):
        self.sock.close()


class StatusPoller:
    """Asks ups.status without pause on one connection; notes when it first reads OB after each
    `arm()`."""

    def __init__(self, port):
        self.conn = Connection(port)
        self.armed = None
        self.seen = None
        self.polls = 0
        self.last = b""
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def arm(self):
        self.seen = None
        self.armed = True

    def _run(self):
        while not self.stop.is_set():
            answer = self.conn.ask(b"GET VAR ups ups.status\n", b"")[0]
            self.polls += 1
            self.last = answer
            if self.armed and answer.startswith(b'VAR ups ups.status "OB'):
                self.seen = time.time()
                self.armed = False

    def close(self):
        self.stop.set()
        self.thread.join(5)
        self.conn.close()


class Hammer:
    """`n` clients asking LIST VAR ups in a loop, each on a connection of its own."""

    def __init__(self, port, n):
        self.stop = threading.Event()
        self.lists = 0
        self.lock = threading.Lock()
        self.threads = [threading.Thread(target=self._run, args=(port,), daemon=True)
                        for _ in range(n)]
        for t in self.threads:
            t.start()

    def _run(self, port):
        conn = Connection(port)
        while not self.stop.is_set():
            conn.ask(b"LIST VAR ups\n", b"END LIST VAR")
            with self.lock:
                self.lists += 1
        conn.close()

    def close(self):
        self.stop.set()
        for t in self.threads:
            t.join(10)


def main():
    def extra(parser):
        parser.add_argument("--failures", type=int, default=100, help="failures watched for OB")
        parser.add_argument("--log-failures", type=int, default=40,
                            help="failures for the log latency, with and without clients each")
        parser.add_argument("--seed", type=int, default=7)
    args = fl.arguments(__doc__.split("\n")[0], extra)
    pause = random.Random(args.seed)
    # The run is longer than a test case: keep upssim for an hour.
    harness.Upssim.LIFETIME_MS = 3_600_000
    port = free_port()
    ini = {k: dict(v) for k, v in fl.INI.items()}
    ini["Red"] = {"Servidor": "1", "Puerto": str(port)}
    with fl.Session(args, "bench.network_latency", ini) as s:
        s.sim.send(fl.LINE_POWER)
        if not harness.wait_until(lambda: os.path.exists(s.program.event_log), 10):
            raise harness.CaseFailure("no start entry in Bitacora.txt")

        # 1. OB seen by a client polling as fast as it can.
        poller = StatusPoller(port)
        to_ob = []
        try:
            for i in range(args.failures):
                time.sleep(pause.uniform(0.15, 0.45))
                # Armed only once the client reads the line power back.
                if not harness.wait_until(
                        lambda: poller.last.startswith(b'VAR ups ups.status "OL'), 10, step=0.002):
                    raise harness.CaseFailure(f"failure {i + 1}: OL never came back")
                sent_tx = len(s.sim.tx_records())
                poller.arm()
                s.sim.send(fl.FAILURE)
                if not harness.wait_until(lambda: poller.seen, 10, step=0.002):
                    raise harness.CaseFailure(f"failure {i + 1}: no OB within 10 s")
                tx = harness.wait_until(
                    lambda: [r for r in s.sim.tx_records()[sent_tx:] if r[1] == fl.FAILURE_BYTES],
                    5, step=0.01)
                to_ob.append((poller.seen - tx[0][2]) * 1000)
                time.sleep(pause.uniform(0.15, 0.45))
                s.sim.send(fl.LINE_POWER)
                if (i + 1) % 20 == 0:
                    print(f"  {i + 1} failures watched by a client", flush=True)
        finally:
            polls = poller.polls
            poller.close()

        # 2. The log's latency without clients and with 32 hammering, interleaved in blocks so
        # that a slow spell of the machine falls on both.
        time.sleep(0.5)
        watch = fl.FileWatch(s.program.event_log, "inotify")
        quiet, loaded = [], []
        lists = 0
        try:
            for block in range(args.log_failures // 10):
                for with_clients in (False, True):
                    hammer = Hammer(port, 32) if with_clients else None
                    try:
                        for _ in range(10):
                            time.sleep(pause.uniform(0.15, 0.45))
                            latency, _, _ = fl.one_event(s.sim, watch, s.program.event_log,
                                                         fl.FAILURE, fl.FAILURE_BYTES,
                                                         fl.FAILURE_HEADER)
                            (loaded if with_clients else quiet).append(latency)
                            time.sleep(pause.uniform(0.15, 0.45))
                            fl.one_event(s.sim, watch, s.program.event_log, fl.LINE_POWER,
                                         fl.RETURN_BYTES, fl.RETURN_HEADER)
                    finally:
                        if hammer:
                            hammer.close()
                            lists += hammer.lists
                print(f"  {(block + 1) * 10} failures logged each way", flush=True)
        finally:
            watch.stop()
        alive = s.program.running()

    print()
    print(f"Corvamon under Wine serving NUT on 127.0.0.1:{port}")
    print(f"failure frame -> OB read by a client polling ups.status, {len(to_ob)} failures "
          f"({polls} polls):")
    print(f"  {fl.summary(to_ob)}")
    if quiet and loaded:
        print(f"failure frame -> 'Corte de energía' in Bitacora.txt, {len(quiet)} failures each:")
        print(f"  no client:                    {fl.summary(quiet)}")
        print(f"  32 clients on LIST VAR:       {fl.summary(loaded)}  ({lists} lists answered)")
    if quiet and loaded:
        ratio = statistics.median(loaded) / statistics.median(quiet)
        print(f"  ratio of the medians: {ratio:.2f} (at most 1.2 wanted)")
    print(f"Corvamon {'still running' if alive else 'ENDED'}")
    return 0 if alive else 1


if __name__ == "__main__":
    fl.run_main(main, "run_network_latency")
