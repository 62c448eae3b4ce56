#!/usr/bin/env python3
"""Runs a command with its standard input, output and error on a new
pseudo-terminal, writes everything that appeared on the terminal to standard
output, and exits with the command's status (124 when it outlives the limit).

    run-on-terminal.py SECONDS COMMAND [ARG...]

tools/cross-check.sh uses it to see what a build prints on a terminal (under
Wine, on a console). `script -qec` does the same job, but prints nothing and
exits 0 when its own standard input is closed, as it may be in CI."""

import os
import select
import subprocess
import sys
import time


def main():
    limit = float(sys.argv[1])
    command = sys.argv[2:]
    controller, terminal = os.openpty()
    child = subprocess.Popen(command, stdin=terminal, stdout=terminal, stderr=terminal, start_new_session=True)
    os.close(terminal)
    shown = bytearray()
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        ready, _, _ = select.select([controller], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        try:
            chunk = os.read(controller, 65536)
        except OSError:  # EIO: every writer has closed the terminal
            break
        if not chunk:
            break
        shown += chunk
    try:
        status = child.wait(timeout=max(0.0, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        status = 124
    os.close(controller)
    sys.stdout.buffer.write(shown)
    sys.exit(status)


if __name__ == "__main__":
    main()
