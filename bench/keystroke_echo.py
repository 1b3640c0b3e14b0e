#!/usr/bin/env python3
"""Time from a key pressed to its echo, on a pseudo-terminal.

    keystroke_echo.py PROGRAM HOME [KEYS]
    keystroke_echo.py --wine PROGRAM RAW_ECHO [KEYS [ROUNDS]]

Prints three medians in microseconds, one a line: the program's line editor
drawing the key at its command prompt; cat with the terminal in raw mode,
the least any program that echoes keys itself does (a wake-up, a read, a
write); and the terminal's own echo (cat in the usual modes, where the kernel
echoes as the key arrives). Each key is sent once the previous one came back;
every hundred keys the line is emptied.

With --wine, the Windows console program under Wine's console instead, and
three medians: its own line editor; RAW_ECHO, a console program that reads
key events and writes each character back, as cat in raw mode does; and the
console's own line input echoing inside the console (cmd's prompt). Each is
measured ROUNDS times, in turns, and the lowest of those medians is printed.
"""
import os
import pty
import select
import statistics
import sys
import time


def echo_times(argv, environment, keys, ready_text, key_set=b"abcdefghij", empty=b"\x15"):
    pid, terminal = pty.fork()
    if pid == 0:
        os.environ.update(environment)
        os.execv(argv[0], argv)
    seen = b""
    while ready_text not in seen:
        seen += os.read(terminal, 4096)
    times = []
    for i in range(keys):
        key = key_set[i % len(key_set) : i % len(key_set) + 1]
        start = time.perf_counter()
        os.write(terminal, key)
        echoed = b""
        while key not in echoed:
            echoed += os.read(terminal, 4096)
        times.append(time.perf_counter() - start)
        if i % 100 == 99:
            os.write(terminal, empty)  # Ctrl-U (Esc at a console) empties the line
            while select.select([terminal], [], [], 0.05)[0]:
                os.read(terminal, 4096)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    os.close(terminal)
    return statistics.median(times) * 1e6


def wine_main():
    program, raw_echo = sys.argv[2], sys.argv[3]
    keys = int(sys.argv[4]) if len(sys.argv) > 4 else 1000
    rounds = int(sys.argv[5]) if len(sys.argv) > 5 else 5
    # Wine's console draws each key between cursor-hiding sequences, which
    # hold an h and an l: keys without those.
    key_set, empty = b"abcdefgijk", b"\x1b"
    os.chdir(os.path.dirname(program))
    argvs = [[program], [raw_echo], ["cmd"]]
    times = [[], [], []]
    for _ in range(rounds):
        for argv, measured in zip(argvs, times):
            measured.append(
                echo_times(["/usr/bin/env", "wine"] + argv, {}, keys, b">", key_set, empty))
    print("\n".join(f"{min(measured):.1f}" for measured in times))


def main():
    if sys.argv[1] == "--wine":
        wine_main()
        return
    program, home = sys.argv[1], sys.argv[2]
    keys = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    editor = echo_times([program], {"HOME": home, "TERM": "xterm"}, keys, b"> ")
    raw = echo_times(["/bin/sh", "-c", "stty raw -echo && echo ready && exec cat"], {}, keys,
                     b"ready")
    kernel = echo_times(["/bin/cat"], {}, keys, b"")
    print(f"{editor:.1f}\n{raw:.1f}\n{kernel:.1f}")


if __name__ == "__main__":
    main()
