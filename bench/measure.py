"""How the bench measures one run: wall time, peak memory (GNU time), page
faults, system calls (strace), and whether the output looks right.

Every run has its standard output discarded unless said otherwise, and is
stopped after a timeout (GNU `timeout`), which the caller counts as a miss."""

import json
import os
import re
import signal
import statistics
import subprocess
import tempfile
import threading
import time

DEVNULL = subprocess.DEVNULL


def median(values):
    return statistics.median(values)


def run_bounded(command, timeout=120, **options):
    """Runs `command` in a session of its own and returns its status; after
    `timeout` seconds the whole session is killed and the status is 124, so
    that no run, traced or not, can hang the bench."""
    process = subprocess.Popen(command, start_new_session=True, **options)
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return 124


def time_once(command, stdin=None):
    """Wall-clock microseconds of one run of `command`."""
    start = time.perf_counter()
    run_bounded(command, stdin=stdin, stdout=DEVNULL)
    return (time.perf_counter() - start) * 1e6


class Run:
    """One run under GNU time: `elapsed` microseconds, `rss` peak resident
    KiB, `status`, and `timed_out` when the timeout stopped it."""

    def __init__(self, elapsed, rss, status):
        self.elapsed, self.rss, self.status = elapsed, rss, status
        self.timed_out = status == 124


def gnu_time(fmt, command, timeout, stdin=None, stdout=DEVNULL):
    """Runs `command` under `/usr/bin/time -f FMT` and `timeout` (unless it is
    None); returns the
    elapsed microseconds, GNU time's figure (an integer) and the status."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        stop = ["timeout", str(timeout)] if timeout else []
        status = run_bounded(["/usr/bin/time", "-f", fmt, "-o", report.name] + stop + command,
                             (timeout or 60) + 10, stdin=stdin, stdout=stdout)
        elapsed = (time.perf_counter() - start) * 1e6
        lines = report.read().split()
    # A run ended by a signal gets a line about it first: the figure is last.
    figure = int(lines[-1]) if lines and lines[-1].isdigit() else 0
    return elapsed, figure, status


def measure(command, timeout, stdin=None):
    return Run(*gnu_time("%M", command, timeout, stdin))


def measure_repeated(command, timeout):
    """One run, or the median time of five (and the largest peak) when a run
    takes under a second, where a single run is noisy."""
    first = measure(command, timeout)
    first.samples = [first.elapsed]
    if first.elapsed >= 1e6:
        return first
    runs = [first] + [measure(command, timeout) for _ in range(4)]
    result = Run(median([r.elapsed for r in runs]), max(r.rss for r in runs), first.status)
    result.timed_out = any(r.timed_out for r in runs)
    result.samples = [r.elapsed for r in runs]
    return result


def interleaved_times(commands, rounds):
    """Each command runs once per round, so that they share whatever the
    machine is doing; returns the microseconds of every run, by name."""
    times = {name: [] for name in commands}
    for _ in range(rounds):
        for name, command in commands.items():
            times[name].append(time_once(command))
    return times


def least_page_faults(command, runs=3):
    """The fewest minor page faults (GNU time's %R) of `runs` runs."""
    # Without `timeout`, whose own faults GNU time would count too.
    return min(gnu_time("%R", command, None)[1] for _ in range(runs))


SYSCALL = re.compile(r"^(?:\d+ +)?([a-z_0-9]+)\((.*)")


def count_system_calls(command, input_path, workdir):
    """System calls of one run of `command`, counted with strace from the
    execve of the command to its exit_group, both included; and how many of
    them read the file at `input_path` (read, pread64, readv, preadv)."""
    log = os.path.join(workdir, "strace.log")
    run_bounded(["strace", "-f", "-qq", "-o", log] + command, stdout=DEVNULL)
    calls, reads, counting, input_fds = 0, 0, False, set()
    with open(log, errors="replace") as lines:
        for line in lines:
            match = SYSCALL.match(line)
            if not match or "resumed>" in line:
                continue
            name, rest = match.groups()
            counting = counting or name == "execve"
            if not counting:
                continue
            calls += 1
            if name in ("open", "openat") and '"%s"' % input_path in rest:
                result = line.rsplit("=", 1)[-1].split()
                if result and result[0].isdigit():
                    input_fds.add(result[0])
            elif name in ("read", "pread64", "readv", "preadv") and rest.split(",")[0] in input_fds:
                reads += 1
            if name == "exit_group":
                break
    os.remove(log)
    return calls, reads


def count_writes(command, to_pipe, workdir):
    """The output bytes and the write and writev calls of one run, standard
    output a pipe (read by cat) or a regular file."""
    log, out = os.path.join(workdir, "strace.log"), os.path.join(workdir, "out")
    traced = ["strace", "-f", "-qq", "-e", "trace=write,writev", "-o", log] + command
    if to_pipe:
        traced = ["bash", "-c", '"$@" | cat', "bash"] + traced
    with open(out, "wb") as sink:
        run_bounded(traced, stdout=sink)
    with open(log, errors="replace") as lines:
        calls = sum(1 for line in lines if re.match(r"^(\d+ +)?writev?\(", line))
    out_bytes = os.path.getsize(out)
    os.remove(log)
    os.remove(out)
    return out_bytes, calls


def hyperfine_times(commands, rounds, workdir):
    """hyperfine -N: `rounds` rounds in which each command gets 3 warm-up
    runs and 10 timed ones; the microseconds of every timed run of each
    command, in order. Raises RuntimeError with hyperfine's message."""
    times = [[] for _ in commands]
    report = os.path.join(workdir, "hyperfine.json")
    for _ in range(rounds):
        with tempfile.TemporaryFile("w+") as errors:
            status = run_bounded(["hyperfine", "-N", "--style", "none", "--warmup", "3", "--runs", "10",
                                  "--export-json", report] + commands, 600, stdout=DEVNULL, stderr=errors)
            errors.seek(0)
            if status != 0:
                raise RuntimeError(errors.read().strip() or "stopped after 600 s")
        with open(report) as results:
            for i, result in enumerate(json.load(results)["results"]):
                times[i].extend(t * 1e6 for t in result["times"])
    return times


def read_output(process, timeout):
    """Reads all of a process's standard output, keeping its first 64 KiB and
    its last 4 KiB; returns (head, tail, total bytes, status), the status 124
    when it was killed after `timeout` seconds."""
    timer = threading.Timer(timeout, process.kill)
    timer.start()
    head, tail, total = b"", b"", 0
    while chunk := process.stdout.read1(1 << 20):
        if len(head) < 65536:
            head += chunk[:65536 - len(head)]
        tail = (tail + chunk)[-4096:]
        total += len(chunk)
    status = process.wait()
    killed = not timer.is_alive() and status < 0
    timer.cancel()
    return head, tail, total, 124 if killed else status


def output_problem(head, tail, total, status, end, min_bytes=0, start=""):
    """What is wrong with an output (an empty text when it looks right): it
    must come with status 0, hold at least `min_bytes`, end with `end` and,
    unless `start` is empty, hold `start` in its first 64 KiB."""
    problems = []
    if status == 124:
        problems.append("stopped after the timeout")
    elif status != 0:
        problems.append("exit status %d" % status)
    if total < min_bytes:
        problems.append("%d bytes, expected at least %d" % (total, min_bytes))
    if not tail.endswith(end.encode()):
        problems.append("ends with %r, expected %r" % (tail[-max(len(end), 40):], end.encode()))
    if start and start.encode() not in head:
        problems.append("no %r near the start" % start)
    return "; ".join(problems)


def check_output(command, timeout, end, min_bytes=0, start=""):
    """Runs `command` once (which also brings its input into the page cache)
    and says what is wrong with its output, or nothing."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE)
    return output_problem(*read_output(process, timeout), end, min_bytes, start)
