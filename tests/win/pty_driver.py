#!/usr/bin/env python3
"""Linux side of the serial-port tests: owns a pseudo-terminal that Wine maps to a COM port.

The driver opens a pty pair, keeps the slave open (so the master never sees a hang-up while the
Windows side opens and closes the port), and takes commands over a local TCP connection, one
line each, answering one line each:

  ping                        -> ok
  send HEX                    -> ok              writes the bytes to the master
  read N TIMEOUT_MS           -> data HEX        up to N bytes from the master (fewer on timeout)
  quiet MS                    -> data HEX        whatever arrives within MS (expected: nothing)
  drain                       -> ok K            discards K bytes already waiting
  bench N THRESHOLD GAP_MS TIMEOUT_MS
                              -> bench US US ... round trips in microseconds: THRESHOLD-1 bytes,
                                 a pause of GAP_MS, then the byte that crosses the threshold,
                                 timed until one echo byte comes back
  quit                        -> ok              and the driver exits

Errors answer "error TEXT". The driver writes "PTS=/dev/pts/N" and "PORT=P" to the --info file
once it is ready, and exits on quit, SIGTERM, or after --lifetime seconds.
"""

import argparse
import os
import select
import signal
import socket
import sys
import time
import tty


def read_master(master, count, timeout_s):
    """Up to count bytes from the master, waiting at most timeout_s in all."""
    data = bytearray()
    deadline = time.monotonic() + timeout_s
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([master], [], [], left)
        if not ready:
            break
        try:
            chunk = os.read(master, count - len(data))
        except BlockingIOError:
            continue
        except OSError:  # EIO: no slave open (cannot happen while we hold one), stop reading
            break
        data += chunk
    return bytes(data)


def drain_master(master):
    total = 0
    while True:
        ready, _, _ = select.select([master], [], [], 0)
        if not ready:
            return total
        try:
            chunk = os.read(master, 4096)
        except (BlockingIOError, OSError):
            return total
        if not chunk:
            return total
        total += len(chunk)


def write_master(master, data):
    view = memoryview(data)
    while view:
        _, ready, _ = select.select([], [master], [], 2.0)
        if not ready:
            raise TimeoutError("pty master not writable")
        written = os.write(master, view)
        view = view[written:]


def run_bench(master, samples, threshold, gap_ms, timeout_ms):
    if samples < 1 or threshold < 1:
        return "error bad bench arguments"
    results = []
    filler = b"\x55" * (threshold - 1)
    for _ in range(samples):
        drain_master(master)
        if filler:
            write_master(master, filler)
        time.sleep(gap_ms / 1000.0)
        start = time.monotonic()
        write_master(master, b"\xAA")
        echo = read_master(master, 1, timeout_ms / 1000.0)
        end = time.monotonic()
        if len(echo) != 1:
            return "error no echo after %d samples" % len(results)
        results.append(int(round((end - start) * 1e6)))
    return "bench " + " ".join(str(r) for r in results)


def handle(master, line):
    parts = line.split()
    if not parts:
        return "error empty command", False
    cmd, args = parts[0], parts[1:]
    try:
        if cmd == "ping":
            return "ok", False
        if cmd == "send" and len(args) == 1:
            write_master(master, bytes.fromhex(args[0]))
            return "ok", False
        if cmd == "read" and len(args) == 2:
            data = read_master(master, int(args[0]), int(args[1]) / 1000.0)
            return "data " + data.hex(), False
        if cmd == "quiet" and len(args) == 1:
            data = read_master(master, 1 << 16, int(args[0]) / 1000.0)
            return "data " + data.hex(), False
        if cmd == "drain" and not args:
            return "ok %d" % drain_master(master), False
        if cmd == "bench" and len(args) == 4:
            return run_bench(master, *(int(a) for a in args)), False
        if cmd == "quit":
            return "ok", True
    except (ValueError, TimeoutError, OSError) as error:
        return "error " + str(error).replace("\n", " "), False
    return "error unknown command: " + line.strip(), False


def serve(listener, master, lifetime_s):
    deadline = time.monotonic() + lifetime_s
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return
        ready, _, _ = select.select([listener], [], [], left)
        if not ready:
            return
        conn, _ = listener.accept()
        with conn:
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            pending = b""
            while True:
                left = deadline - time.monotonic()
                if left <= 0:
                    return
                ready, _, _ = select.select([conn], [], [], left)
                if not ready:
                    return
                chunk = conn.recv(4096)
                if not chunk:
                    break  # client went away; wait for the next one
                pending += chunk
                while b"\n" in pending:
                    line, pending = pending.split(b"\n", 1)
                    answer, stop = handle(master, line.decode("ascii", "replace"))
                    conn.sendall(answer.encode("ascii") + b"\n")
                    if stop:
                        return


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--info", required=True, help="file to write PTS= and PORT= into")
    parser.add_argument("--lifetime", type=float, default=600.0, help="seconds before giving up")
    options = parser.parse_args()

    master, slave = os.openpty()
    tty.setraw(slave)  # no echo, no line editing before the Windows side configures the port
    os.set_blocking(master, False)
    pts = os.ttyname(slave)

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    port = listener.getsockname()[1]

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    temp = options.info + ".tmp"
    with open(temp, "w", encoding="ascii") as info:
        info.write("PTS=%s\nPORT=%d\n" % (pts, port))
    os.replace(temp, options.info)

    try:
        serve(listener, master, options.lifetime)
    finally:
        listener.close()
        os.close(master)
        os.close(slave)


if __name__ == "__main__":
    main()
