#!/usr/bin/env python3
"""The console at a pseudo-terminal, by CPU time (user + system) of the
program's process, each pair run in turn so that the machine's drift falls
on both alike.

    console_flow.py history PROGRAM RUNS SIZE...
    console_flow.py flood PROGRAM RUNS SECONDS
    console_flow.py pair PROGRAM FLOOR RUNS [INPUT]

history: the start to the first prompt and the first command (versionget,
which saves the history), with a history file of SIZE lines (0: none) of
about 57 bytes each, against the same with none. Prints, per size, the
median CPU milliseconds and the median of the pairs' ratios.

flood: the stand-in library sends messages without a pause
(TUNNEL_SIM_LOG_THREAD=0) for SECONDS while the line editor waits at the
prompt, against the same with the editor off (TERM=dumb). Prints the median
CPU microseconds a message of each, and the median of the pairs' ratios.

pair: PROGRAM and FLOOR (bench/floor.c) in turns, standard input INPUT (or
empty: the start-up and the way out), standard output the null device.
Prints the median CPU milliseconds of each and the median of the pairs'
ratios.
"""
import os
import pty
import re
import select
import statistics
import sys
import tempfile
import time


def run(argv, environment, keys, ready, done, seconds=0.0):
    """Runs argv at a pty: waits for `ready`, types `keys`, waits for `done`
    (or `seconds`), sends Ctrl-D; returns (cpu seconds, all output)."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.environ.update(environment)
        os.execv(argv[0], argv)
    seen = bytearray()

    def read_until(text, deadline=None):
        while text not in seen[-65536:] and (deadline is None or time.monotonic() < deadline):
            if select.select([terminal], [], [], 0.05)[0]:
                try:
                    seen.extend(os.read(terminal, 65536))
                except OSError:
                    return

    read_until(ready)
    os.write(terminal, keys)
    read_until(done, time.monotonic() + seconds if seconds else None)
    os.write(terminal, b"\x04")
    while True:
        try:
            chunk = os.read(terminal, 65536)
        except OSError:
            break
        if not chunk:
            break
        seen.extend(chunk)
    _, _, usage = os.wait4(pid, 0)
    os.close(terminal)
    return usage.ru_utime + usage.ru_stime, bytes(seen)


def history(program, runs, sizes):
    base = {"TERM": "xterm", "LANG": "C.UTF-8"}
    with tempfile.TemporaryDirectory() as home:
        environment = dict(base, HOME=home)
        path = os.path.join(home, ".tunnelconsole_history")
        line = b"connectadd peer-%07d 127.0.0.1:8000 127.0.0.1:18000\n"
        for size in sizes:
            content = b"_HiStOrY_V2_\n" + b"".join(line % i for i in range(size))
            pairs = []
            for _ in range(runs):
                times = []
                for lines in (size, 0):
                    if os.path.exists(path):
                        os.remove(path)
                    if lines:
                        with open(path, "wb") as file:
                            file.write(content)
                    cpu, _ = run([program], environment, b"versionget\r", b"> ", b"Version")
                    times.append(cpu)
                pairs.append(times)
            with_file = statistics.median(p[0] for p in pairs) * 1000
            without = statistics.median(p[1] for p in pairs) * 1000
            ratio = statistics.median(p[0] / p[1] for p in pairs)
            print(f"{size} lines: {with_file:.1f} ms, none {without:.1f} ms: {ratio:.2f}")


def flood(program, runs, seconds):
    pairs = []
    with tempfile.TemporaryDirectory() as home:
        for _ in range(runs):
            per_message = []
            for term in ("xterm", "dumb"):
                environment = {"TERM": term, "HOME": home, "TUNNEL_SIM_LOG_THREAD": "0"}
                cpu, seen = run([program], environment, b"", b"> ", b"\x00", seconds)
                counts = re.findall(rb"tunnel heartbeat (\d+)", seen)
                per_message.append(cpu / max(1, int(counts[-1]) if counts else 1))
            pairs.append(per_message)
    editor = statistics.median(p[0] for p in pairs) * 1e6
    dumb = statistics.median(p[1] for p in pairs) * 1e6
    ratio = statistics.median(p[0] / p[1] for p in pairs)
    print(f"editor {editor:.2f} us a message, editor off {dumb:.2f} us: {ratio:.2f}")


def cpu_of(argv, input_path):
    with open(input_path or os.devnull, "rb") as given, open(os.devnull, "wb") as null:
        pid = os.fork()
        if pid == 0:
            os.dup2(given.fileno(), 0)
            os.dup2(null.fileno(), 1)
            os.dup2(null.fileno(), 2)
            os.execv(argv[0], argv)
        _, _, usage = os.wait4(pid, 0)
    return usage.ru_utime + usage.ru_stime


def pair(program, floor, runs, input_path):
    pairs = [(cpu_of([program], input_path), cpu_of([floor], input_path)) for _ in range(runs)]
    first = statistics.median(p[0] for p in pairs) * 1000
    second = statistics.median(p[1] for p in pairs) * 1000
    ratio = statistics.median(p[0] / max(p[1], 1e-6) for p in pairs)
    print(f"program {first:.2f} ms, floor {second:.2f} ms: {ratio:.2f}")


if __name__ == "__main__":
    if sys.argv[1] == "history":
        history(sys.argv[2], int(sys.argv[3]), [int(s) for s in sys.argv[4:]])
    elif sys.argv[1] == "pair":
        pair(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5] if len(sys.argv) > 5 else None)
    else:
        flood(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]))
