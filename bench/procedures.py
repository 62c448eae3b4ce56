"""How each kind of record runs on files: `procedure(record, bench)` measures,
prints its lines of the table and judges every figure against the record's
targets through `bench.report`. `bench` (see runner.py) holds the binary,
the work folder, the timeout and makes the inputs."""

import os
import subprocess

from measure import (DEVNULL, check_output, count_writes, hyperfine_times, interleaved_times, measure,
                     measure_repeated, median, time_once)
from report import mb_per_s, milliseconds, quotient, seconds


def checked(record, bench, path, count=1):
    """Runs the tool once on `path` and counts a miss, with a note, when its
    output looks wrong: then the figures that follow mean nothing."""
    expect = record.expect
    problem = check_output([bench.quorvel, path], bench.timeout, expect.get("end", ""),
                           expect.get("out_per_unit", 0) * count, expect.get("start", ""))
    if problem:
        bench.report.note("the output looks wrong (%s); the figures below mean nothing" % problem)


def timeout_note(bench, run):
    if run.timed_out:
        bench.report.note("stopped after %d s" % bench.timeout)


def beside_cat(record, bench):
    """One run on a cached input beside `cat FILE > /dev/null`: a speed target
    or a target on the ratio to cat's time."""
    report, targets = bench.report, record.targets
    path = bench.make(record.input_kind)
    size = os.path.getsize(path)
    print("%s: %d bytes (%s)" % (record.name, size, record.title))
    checked(record, bench, path)
    subprocess.run(["cat", path], stdout=DEVNULL)   # read once, so that the timed runs find it cached
    cat_us = time_once(["cat", path])
    run = measure([bench.quorvel, path], bench.timeout)
    report.figure("cat time", cat_us, "us")
    report.figure("time", run.elapsed, "us")
    if "speed" in targets:
        speed = mb_per_s(size, run.elapsed)
        verdict = report.figure("speed", speed, "MB/s", at_least=targets["speed"])
        print("  quorvel %s s = %s MB/s   cat %s s = %s MB/s   target >= %s MB/s: %s" % (
            seconds(run.elapsed), speed, seconds(cat_us), mb_per_s(size, cat_us), targets["speed"], verdict))
    else:
        ratio = quotient(run.elapsed, cat_us)
        verdict = report.figure("time / cat", ratio, "ratio", at_most=targets["ratio_to_cat"])
        print("  quorvel %s s   cat %s s   ratio %s (<= %s %s)" % (
            seconds(run.elapsed), seconds(cat_us), ratio, targets["ratio_to_cat"], verdict))
    print("  " + report.memory("memory", run.rss, targets))
    timeout_note(bench, run)
    bench.remove(path)


def compare_files(record, bench):
    """The tool on two files beside /bin/true: median wall times of
    interleaved runs and a target on the ratio second / first, then the peak
    memory of the second. The two outputs must be the same. A run of the
    second file over a second long gets 3 rounds: it misses its target
    anyway, and the bench stays short."""
    report, targets = bench.report, record.targets
    (first_name, first_kind), (second_name, second_kind) = record.inputs
    print("%s: %s" % (record.name, record.title))
    first, second = bench.make(first_kind), bench.make(second_kind)
    for path in (first, second):
        if record.expect:
            checked(record, bench, path)
    outputs = [subprocess.run(["timeout", str(bench.timeout), bench.quorvel, path],
                              capture_output=True).stdout for path in (first, second)]
    if outputs[0] != outputs[1]:
        report.note("the two outputs differ; the figures below mean nothing")
    run = measure([bench.quorvel, second], bench.timeout)
    memory = report.memory("memory of " + second_name, run.rss, targets)
    if run.timed_out:
        timeout_note(bench, run)
    else:
        rounds = targets["rounds"] if run.elapsed < 1e6 else 3
        times = interleaved_times({"true": ["/bin/true"], first_name: [bench.quorvel, first],
                                   second_name: [bench.quorvel, second]}, rounds)
        medians = {name: median(values) for name, values in times.items()}
        ratio = quotient(medians[second_name], medians[first_name])
        for name, us in medians.items():
            report.figure("median time of " + name, us, "us", samples=times[name])
        verdict = report.figure("%s / %s" % (second_name, first_name), ratio, "ratio", at_most=targets["ratio"])
        print("  median of %d runs: %s %s ms   %s %s ms   /bin/true %s ms" % (
            rounds, first_name, milliseconds(medians[first_name]), second_name,
            milliseconds(medians[second_name]), milliseconds(medians["true"])))
        print("  %s / %s = %s (<= %s %s)   %s / true = %s   %s / true = %s" % (
            second_name, first_name, ratio, targets["ratio"], verdict, first_name,
            quotient(medians[first_name], medians["true"]), second_name,
            quotient(medians[second_name], medians["true"])))
    print("  %s: %s" % (second_name, memory))
    bench.remove(first, second)


def worst_case(record, bench):
    """One line: time, speed over the file size and peak memory."""
    report, targets = bench.report, record.targets
    path = bench.make(record.input_kind)
    size = os.path.getsize(path)
    checked(record, bench, path)
    run = measure_repeated([bench.quorvel, path], bench.timeout)
    speed = mb_per_s(size, run.elapsed)
    report.figure("size", size, "bytes")
    report.figure("time", run.elapsed, "us", samples=run.samples)
    verdict = report.figure("speed", speed, "MB/s", at_least=targets["speed"])
    memory = report.memory("memory", run.rss, targets, record.loaded)
    print("%-22s %11d bytes %8s s %8s MB/s (>= %5s %s) %s" % (
        record.title, size, seconds(run.elapsed), speed, targets["speed"], verdict, memory))
    timeout_note(bench, run)
    bench.remove(path)


def size_pair(record, bench):
    """The same input kind at two sizes: time, speed and peak memory of each,
    the speed target at the larger size, and the time ratio large / small."""
    report, targets = bench.report, record.targets
    n, large = record.sizes
    factor = large // n
    print("%s: %s" % (record.name, record.title))
    times = []
    for count, label in ((n, "n"), (large, "%dn" % factor)):
        path = bench.make(record.input_kind, count)
        size = os.path.getsize(path)
        checked(record, bench, path, count)
        run = measure_repeated([bench.quorvel, path], bench.timeout)
        times.append(run.elapsed)
        speed = mb_per_s(size, run.elapsed)
        report.figure("size at " + label, size, "bytes")
        report.figure("time at " + label, run.elapsed, "us", samples=run.samples)
        target = ""
        if count == large:
            verdict = report.figure("speed at " + label, speed, "MB/s", at_least=targets["speed"])
            target = "(>= %s %s)" % (targets["speed"], verdict)
        else:
            report.figure("speed at " + label, speed, "MB/s")
        memory = report.memory("memory at " + label, run.rss, targets, record.loaded)
        print("  %-3s %9d %-14s %11d bytes %8s s %8s MB/s %-12s %s" % (
            label, count, record.unit, size, seconds(run.elapsed), speed, target, memory))
        timeout_note(bench, run)
        bench.remove(path)
    ratio = quotient(times[1], times[0])
    limit = round(targets["ratio_slack"] * factor, 2)
    verdict = report.figure("time %dn / n" % factor, ratio, "ratio", at_most=limit)
    print("  time %dn / n = %s (<= %g %s)" % (factor, ratio, limit, verdict))


def output_system_calls(record, bench):
    """write and writev calls against the output size, to a pipe and a file."""
    report, targets = bench.report, record.targets
    print("%s: %s, target <= output bytes / %d + %d" % (
        record.name, record.title, targets["bytes_per_call"], targets["extra_calls"]))
    generated = bench.make(record.input_kind, record.sizes[0])
    for path, name in ((generated, "tiny elements, n"), (bench.typical, os.path.basename(bench.typical))):
        for to_pipe in (True, False):
            out_bytes, calls = count_writes([bench.quorvel, path], to_pipe, bench.work)
            limit = out_bytes // targets["bytes_per_call"] + targets["extra_calls"]
            mode = "pipe" if to_pipe else "file"
            verdict = report.figure("%s to a %s" % (name, mode), calls, "calls", at_most=limit)
            print("  %-26s to a %-4s %10d bytes %9d calls (<= %d %s)" % (name, mode, out_bytes, calls, limit, verdict))
    bench.remove(generated)


def startup(record, bench):
    """The typical sample beside /bin/true and the static no-op, hyperfine -N."""
    report, targets = bench.report, record.targets
    rounds, typical = targets["rounds"], bench.make(record.input_kind)
    print("%s: %s beside /bin/true and a static no-op, hyperfine -N, %d rounds of 10 runs each" % (
        record.name, os.path.basename(typical), rounds))
    commands = ["%s %s" % (bench.quorvel, typical), "/bin/true"]
    noop = bench.static_noop()
    if noop:
        commands.append(noop)
    else:
        print("  note: static linking is unavailable here (cc -O2 -static failed): no static no-op figure")
    try:
        times = hyperfine_times(commands, rounds, bench.work)
    except RuntimeError as error:
        report.note("hyperfine failed: %s" % error)
        return
    medians = [median(values) for values in times]
    ratio = quotient(medians[0], medians[1])
    for name, us, values in zip(("quorvel", "/bin/true", "static no-op"), medians, times):
        report.figure("median time of " + name, us, "us", samples=values)
    verdict = report.figure("quorvel / true", ratio, "ratio", at_most=targets["ratio_to_true"])
    aim = "met" if ratio <= targets["aim"] else "not met"
    line = "  medians: quorvel %s ms   /bin/true %s ms" % (milliseconds(medians[0]), milliseconds(medians[1]))
    if noop:
        line += "   static no-op %s ms" % milliseconds(medians[2])
    print(line)
    line = "  quorvel / true = %s (<= %s %s; aim %s %s)" % (ratio, targets["ratio_to_true"], verdict, targets["aim"], aim)
    if noop:
        line += "   quorvel / static no-op = %s" % quotient(medians[0], medians[2])
    print(line)
    run = measure([bench.quorvel, typical], bench.timeout)
    print("  " + report.memory("memory", run.rss, targets))


def throughput(record, bench):
    """The bundled samples over and over, one process at a time and one per core."""
    report = bench.report
    samples = sorted(p for p in os.listdir(bench.data) if p.endswith((".mkv", ".webm")))
    paths = os.path.join(bench.work, "paths")
    with open(paths, "w") as out:
        for _ in range(-(-record.sizes[0] // len(samples))):
            out.writelines(os.path.join(bench.data, p) + "\n" for p in samples)
    with open(paths) as listed:
        files = sum(1 for _ in listed)
    print("%s: %d paths (the bundled samples over and over), xargs -n 1, output to /dev/null (no target)" % (
        record.name, files))
    largest = 0
    for parallel in (1, os.cpu_count()):
        with open(paths) as listed:
            run = measure(["xargs", "-d", "\n", "-P", str(parallel), "-n", "1", bench.quorvel],
                          bench.timeout * 10, stdin=listed)
        largest = max(largest, run.rss)
        rate = round(files * 1e6 / run.elapsed)
        report.figure("files per second, %d at a time" % parallel, rate, "files/s")
        print("  %d process(es) at a time: %s s = %d files/s" % (parallel, seconds(run.elapsed), rate))
    print("  largest run: " + report.memory("largest memory", largest, record.targets))
    os.remove(paths)
