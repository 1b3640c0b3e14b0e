#!/usr/bin/env python3
"""Counts the calls between folders in traces of bench/crossings_trace.c.

    crossings.py [--within FUNCTION] PROGRAM SOURCE_ROOT TRACE [TRACE_WITHOUT]

A crossing is a call from a function in one folder of the source tree into a
function in another (src/platform/posix and src/platform/windows are folders
of their own; calls into the standard library, the C runtime or the tunnel
library are not seen). Prints the crossings of TRACE by thread, main thread
first, less those of TRACE_WITHOUT (the same session without the walk), and
each kind of crossing with its count. With --within, only the crossings made
while FUNCTION runs are counted (the trace records exits with a call site of
zero).
"""
import collections
import os
import struct
import subprocess
import sys


def folder(path, root):
    path = os.path.normpath(path)
    if not path.startswith(root + os.sep):
        return None
    parts = os.path.relpath(path, root).split(os.sep)
    if parts[0] == "src" and len(parts) > 2:
        if parts[1] == "platform" and len(parts) > 3:
            return "platform/" + parts[2]
        return parts[1]
    if parts[0] in ("shared", "sim"):
        return parts[0]
    return None


def read_trace(path):
    with open(path, "rb") as trace:
        data = trace.read()
    size = struct.calcsize("PPP")
    return [struct.unpack_from("PPP", data, at) for at in range(0, len(data) - size + 1, size)]


def locate(program, addresses):
    addresses = sorted(addresses)
    lines = subprocess.run(["addr2line", "-C", "-f", "-e", program] + [hex(a) for a in addresses],
                           capture_output=True, text=True, check=True).stdout.splitlines()
    return {a: (lines[2 * i].split("(")[0], lines[2 * i + 1].split(":")[0])
            for i, a in enumerate(addresses)}


def crossings(program, root, path, within=None):
    entries = read_trace(path)
    places = locate(program, {f for f, _, _ in entries} | {s - 1 for _, s, _ in entries if s})
    threads = []
    counts = collections.OrderedDict()
    depth = collections.Counter()
    for function, site, thread in entries:
        if thread not in counts:
            counts[thread] = collections.Counter()
            threads.append(thread)
        callee_name, callee_file = places[function]
        if within and callee_name == within:
            depth[thread] += 1 if site else -1
        if not site or (within and depth[thread] == 0):
            continue
        caller_name, caller_file = places[site - 1]
        callee, caller = folder(callee_file, root), folder(caller_file, root)
        if callee and caller and callee != caller:
            counts[thread][f"{caller} -> {callee}: {callee_name}"] += 1
    return [counts[t] for t in threads]


def main():
    args = sys.argv[1:]
    within = None
    if args[0] == "--within":
        within, args = args[1], args[2:]
    program, root, trace = args[0], os.path.abspath(args[1]), args[2]
    walk = crossings(program, root, trace, within)
    if len(args) > 3:
        without = crossings(program, root, args[3], within)
        for thread, counts in enumerate(without[: len(walk)]):
            walk[thread].subtract(counts)
    for thread, counts in enumerate(walk):
        total = sum(counts.values())
        print(f"thread {thread + 1}: {total} crossings")
        for kind, count in sorted(counts.items()):
            if count != 0:
                print(f"  {count:4d}  {kind}")


if __name__ == "__main__":
    main()
