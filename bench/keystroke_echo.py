#!/usr/bin/env python3
"""Time from a key pressed to its echo, on a pseudo-terminal.

    keystroke_echo.py PROGRAM HOME [KEYS]

Prints three medians in microseconds, one a line: the program's line editor
drawing the key at its command prompt; cat with the terminal in raw mode,
the least any program that echoes keys itself does (a wake-up, a read, a
write); and the terminal's own echo (cat in the usual modes, where the kernel
echoes as the key arrives). Each key is sent once the previous one came back;
every hundred keys the line is emptied.
"""
import os
import pty
import select
import statistics
import sys
import time


def echo_times(argv, environment, keys, ready_text):
    pid, terminal = pty.fork()
    if pid == 0:
        os.environ.update(environment)
        os.execv(argv[0], argv)
    seen = b""
    while ready_text not in seen:
        seen += os.read(terminal, 4096)
    times = []
    for i in range(keys):
        key = b"abcdefghij"[i % 10 : i % 10 + 1]
        start = time.perf_counter()
        os.write(terminal, key)
        echoed = b""
        while key not in echoed:
            echoed += os.read(terminal, 4096)
        times.append(time.perf_counter() - start)
        if i % 100 == 99:
            os.write(terminal, b"\x15")  # Ctrl-U empties the line
            while select.select([terminal], [], [], 0.05)[0]:
                os.read(terminal, 4096)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    os.close(terminal)
    return statistics.median(times) * 1e6


def main():
    program, home = sys.argv[1], sys.argv[2]
    keys = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    editor = echo_times([program], {"HOME": home, "TERM": "xterm"}, keys, b"> ")
    raw = echo_times(["/bin/sh", "-c", "stty raw -echo && echo ready && exec cat"], {}, keys,
                     b"ready")
    kernel = echo_times(["/bin/cat"], {}, keys, b"")
    print(f"{editor:.1f}\n{raw:.1f}\n{kernel:.1f}")


if __name__ == "__main__":
    main()
