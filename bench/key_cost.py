#!/usr/bin/env python3
"""Instructions per key typed at the end of a line, against the line's length.

    key_cost.py PROGRAM [KEYS]

Runs PROGRAM under callgrind on a pseudo-terminal (UTF-8 locale, TERM=xterm),
counting what is done while a line is read at the prompt, and types a line of L characters, then KEYS more, each sent once the
previous one came back; a key's cost at length L is the difference of two
such runs, divided by KEYS. Prints, for ASCII and for CJK, the cost at 10
and at 250 characters and the ratio 250 : 10 (the aim: at most 1.5).
"""
import os
import pty
import re
import subprocess
import sys
import tempfile


def session_instructions(program, key, count):
    with tempfile.TemporaryDirectory() as home:
        return session_in(program, home, key, count)


def session_in(program, home, key, count):
    out = os.path.join(home, "callgrind.out")
    # Only what the thread reading keys does while a line is typed: the stand-in
    # library's own threads tick on their own time.
    argv = ["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
            "--toggle-collect=*ReadEditedLine*", program]
    pid, terminal = pty.fork()
    if pid == 0:
        os.environ.update({"HOME": home, "TERM": "xterm", "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        os.execvp(argv[0], argv)
    seen = b""
    while b"> " not in seen:
        seen += os.read(terminal, 4096)
    for _ in range(count):
        os.write(terminal, key)
        echoed = b""
        while key not in echoed:
            echoed += os.read(terminal, 4096)
    os.write(terminal, b"\x15quit\r")
    try:
        while os.read(terminal, 4096):
            pass
    except OSError:
        pass
    os.waitpid(pid, 0)
    with open(out) as results:
        return int(re.search(r"^summary: (\d+)", results.read(), re.M).group(1))


def main():
    program = os.path.abspath(sys.argv[1])
    keys = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    for name, key in (("ASCII", b"a"), ("CJK", "漢".encode())):
        cost = {}
        for length in (10, 250):
            before = session_instructions(program, key, length)
            after = session_instructions(program, key, length + keys)
            cost[length] = (after - before) / keys
        print(f"{name}: {cost[10]:.0f} at 10, {cost[250]:.0f} at 250, "
              f"ratio {cost[250] / cost[10]:.2f}")


if __name__ == "__main__":
    main()
