#!/usr/bin/env python3
"""Writes expected-pipe.txt and expected-pty.txt from a build of the reference parser.

    tests/cli/regenerate.py REFERENCE_PROGRAM

Each case of cases.txt runs with only PATH set, once with both streams on pipes (colour off)
and once on a pseudo-terminal with TERM=xterm-256color. A case is written as its argument
line, then "status N stdout N stderr N" (byte counts; on the terminal both streams are one),
then the bytes and a line feed. Not needed to run the tests.
"""
import os
import pty
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def parse_args(line):
    return [re.sub(rb"%([0-9A-F]{2})", lambda m: bytes([int(m[1], 16)]), a.encode())
            for a in re.findall(r"\[([^\]]*)\]", line)]


def run_pipes(exe, args):
    p = subprocess.run([exe, *args], capture_output=True, stdin=subprocess.DEVNULL,
                       env={"PATH": os.environ["PATH"]})
    return p.returncode, p.stdout, p.stderr


def run_pty(exe, args):
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(exe, [exe, *args], {"PATH": os.environ["PATH"], "TERM": "xterm-256color"})
    out = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    return os.waitstatus_to_exitcode(status), out, b""


def main():
    exe = os.path.abspath(sys.argv[1])
    lines = [l.rstrip("\n") for l in open(os.path.join(HERE, "cases.txt"))]
    cases = [l for l in lines if not l.startswith("#")]
    for name, run in (("pipe", run_pipes), ("pty", run_pty)):
        with open(os.path.join(HERE, f"expected-{name}.txt"), "wb") as f:
            for line in cases:
                status, out, err = run(exe, parse_args(line))
                f.write(f"{line}\nstatus {status} stdout {len(out)} stderr {len(err)}\n".encode())
                f.write(out + err + b"\n")


if __name__ == "__main__":
    main()
