"""Records that count what noise cannot move (page faults, system calls),
and records on `quorvel -` reading a pipe. A binary that cannot read a pipe,
or waits for bytes it does not need, fails these by a note or a timeout;
none of them can hang the bench."""

import os
import subprocess
import tempfile
import threading
import time

from measure import (DEVNULL, Run, count_system_calls, least_page_faults, median, output_problem,
                     read_output)
from report import quotient, seconds

CHUNK = 1 << 16


def listing(bench, path):
    """The tool's output and status on the file `path`: what a stream of the
    same bytes must print."""
    done = subprocess.run(["timeout", str(bench.timeout), bench.quorvel, path], capture_output=True)
    return done.stdout, done.returncode


def pipeline(source, command, timeout, stdout=DEVNULL):
    """`cat SOURCE | COMMAND`, the command under GNU time and `timeout`: the
    wall time until both ends have exited and the command's peak memory.
    With stdout=PIPE, returns the running command instead."""
    start = time.perf_counter()
    writer = subprocess.Popen(["cat", source], stdout=subprocess.PIPE)
    report = tempfile.NamedTemporaryFile("r", suffix=".time")
    reader = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", report.name, "timeout", str(timeout)]
                              + command, stdin=writer.stdout, stdout=stdout)
    writer.stdout.close()   # the reader's end alone: cat sees the pipe closed when the reader exits
    if stdout != DEVNULL:
        reader.writer = writer
        return reader
    status = reader.wait()
    writer.wait()
    elapsed = (time.perf_counter() - start) * 1e6
    lines = report.read().split()
    report.close()
    return Run(elapsed, int(lines[-1]) if lines and lines[-1].isdigit() else 0, status)


def stream_problem(record, bench, path, count):
    """What is wrong with the output of `cat PATH | quorvel -`, or nothing."""
    reader = pipeline(path, [bench.quorvel, "-"], bench.timeout, stdout=subprocess.PIPE)
    result = read_output(reader, bench.timeout + 5)
    reader.writer.wait()
    expect = record.expect
    return output_problem(*result, expect.get("end", ""), expect.get("out_per_unit", 0) * count,
                          expect.get("start", ""))


def stream_beside_cat(record, bench):
    """`cat FILE | quorvel -` beside `cat FILE | cat`, interleaved: median
    times, their ratio, and the tool's largest peak memory."""
    report, targets = bench.report, record.targets
    count = record.sizes[0] if record.sizes else 0
    path = bench.make(record.input_kind, count)
    size = os.path.getsize(path)
    print("%s: %d bytes through a pipe (%s)" % (record.name, size, record.title))
    problem = stream_problem(record, bench, path, count)
    if problem:
        report.note("the output looks wrong (%s); not measured" % problem)
        bench.remove(path)
        return
    cat_times, tool_times, peak, timed_out = [], [], 0, False
    for _ in range(targets["rounds"]):
        cat_times.append(pipeline(path, ["cat"], bench.timeout).elapsed)
        run = pipeline(path, [bench.quorvel, "-"], bench.timeout)
        tool_times.append(run.elapsed)
        peak, timed_out = max(peak, run.rss), timed_out or run.timed_out
    tool, cat = median(tool_times), median(cat_times)
    ratio = quotient(tool, cat)
    report.figure("median time", tool, "us", samples=tool_times)
    report.figure("median time of cat", cat, "us", samples=cat_times)
    limit = targets.get("ratio_to_cat")
    verdict = report.figure("time / cat", ratio, "ratio", at_most=limit)
    print("  median of %d run(s): quorvel - %s s   cat %s s   ratio %s%s" % (
        targets["rounds"], seconds(tool), seconds(cat), ratio,
        " (<= %g %s)" % (limit, verdict) if limit else " (no target)"))
    print("  " + report.memory("memory", peak, targets, record.loaded))
    if timed_out:
        report.note("stopped after %d s" % bench.timeout)
    bench.remove(path)


def early_close(record, bench):
    """The typical sample then `extra` zero bytes, written into a pipe read by
    `quorvel -`: how many bytes the writer got in before the pipe closed."""
    report, targets = bench.report, record.targets
    extra = record.sizes[0]
    typical = bench.make(record.input_kind)
    expected = listing(bench, typical)
    print("%s: %s, then %d zero bytes, written into a pipe (%s)" % (
        record.name, os.path.basename(typical), extra, record.title))
    read_end, write_end = os.pipe()
    reader = subprocess.Popen(["timeout", str(bench.timeout), bench.quorvel, "-"], stdin=read_end,
                              stdout=subprocess.PIPE)
    os.close(read_end)
    written = [0]

    def write():
        with open(typical, "rb") as sample:
            data = sample.read()
        zeros = bytes(CHUNK)
        try:
            while written[0] < len(data):
                written[0] += os.write(write_end, data[written[0]:written[0] + CHUNK])
            left = extra
            while left > 0:
                sent = os.write(write_end, zeros[:min(left, CHUNK)])
                written[0] += sent
                left -= sent
        except BrokenPipeError:
            pass
        os.close(write_end)

    writer = threading.Thread(target=write)
    writer.start()
    output = reader.stdout.read()
    status = reader.wait()
    writer.join()
    if (output, status) != expected:
        report.note("the listing differs from the file's (status %d, %d bytes); not judged" % (status, len(output)))
        report.figure("bytes written", written[0], "bytes")
        print("  the writer got %d bytes in" % written[0])
        return
    verdict = report.figure("bytes written", written[0], "bytes", at_most=targets["written"])
    print("  the writer got %d bytes in (<= %d %s)" % (written[0], targets["written"], verdict))


def live(record, bench):
    """A live stream: the whole typical sample, then nothing more and the pipe
    left open. The listing must come, and the tool exit, within the target."""
    report, targets = bench.report, record.targets
    typical = bench.make(record.input_kind)
    expected = listing(bench, typical)
    limit, wait = targets["seconds"], targets["seconds"] + targets["grace"]
    print("%s: %s written into a pipe left open (%s)" % (record.name, os.path.basename(typical),
                                                        record.title))
    reader = subprocess.Popen([bench.quorvel, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    output, sent = [], []
    collector = threading.Thread(target=lambda: output.append(reader.stdout.read()))
    collector.start()
    with open(typical, "rb") as sample:
        data = sample.read()

    def send():
        try:
            reader.stdin.write(data)
            reader.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass
        sent.append(time.perf_counter())

    sender = threading.Thread(target=send)
    sender.start()
    sender.join(wait)   # a tool that does not read would hold the writer
    try:
        status, ended = reader.wait(wait), time.perf_counter()
    except subprocess.TimeoutExpired:
        reader.kill()
        status, ended = reader.wait(), None
    sender.join()
    elapsed = max(0.0, ended - sent[0]) if ended is not None else None
    try:
        reader.stdin.close()
    except BrokenPipeError:
        pass
    collector.join()
    if elapsed is None:
        report.figure("seconds to the listing", wait, "s", at_most=limit)
        report.note("no end within %g s of the last byte; stopped" % wait, miss=False)
        print("  no listing within %g s (<= %g FAIL)" % (wait, limit))
        return
    if (output[0], status) != expected:
        report.note("the listing differs from the file's (status %d, %d bytes); not judged" % (status, len(output[0])))
        report.figure("seconds to the listing", round(elapsed, 3), "s")
        return
    verdict = report.figure("seconds to the listing", round(elapsed, 3), "s", at_most=limit)
    print("  listed and exited %.3f s after the last byte (<= %g %s)" % (elapsed, limit, verdict))


def counts(record, bench):
    """Page faults and system calls of a run on the small sample, beside the
    statically linked C no-op."""
    report, targets = bench.report, record.targets
    sample = bench.make(record.input_kind)
    print("%s: %s beside a static C no-op; page faults least of 3 runs, system calls from execve to"
          " exit_group" % (record.name, os.path.basename(sample)))
    with open(os.path.join(bench.data, "expected", os.path.basename(sample) + ".txt"), "rb") as listed:
        if listing(bench, sample) != (listed.read(), 0):
            report.note("the listing differs from data/expected; the figures below mean nothing")
    noop = bench.static_noop()
    faults = least_page_faults([bench.quorvel, sample])
    calls, reads = count_system_calls([bench.quorvel, sample], sample, bench.work)
    report.figure("page faults", faults, "faults")
    if noop:
        noop_faults = least_page_faults([noop])
        noop_calls, _ = count_system_calls([noop], sample, bench.work)
        above = faults - noop_faults
        report.figure("page faults of the static no-op", noop_faults, "faults")
        report.figure("system calls of the static no-op", noop_calls, "calls")
        verdict = report.figure("page faults above the static no-op", above, "faults",
                                at_most=targets["faults_above_noop"])
        print("  page faults: quorvel %d   static no-op %d   above %d (<= %d %s)" % (
            faults, noop_faults, above, targets["faults_above_noop"], verdict))
    else:
        report.note("no static no-op (cc -O2 -static failed; glibc's static library is in the Debian"
                    " package libc6-dev): page faults not judged")
    verdict = report.figure("system calls", calls, "calls", at_most=targets["system_calls"])
    print("  system calls: %d (<= %d %s)%s" % (calls, targets["system_calls"], verdict,
                                                "   static no-op %d" % noop_calls if noop else ""))
    verdict = report.figure("reads of the input", reads, "calls", at_most=targets["input_reads"])
    print("  reads of the input: %d (<= %d %s)" % (reads, targets["input_reads"], verdict))
