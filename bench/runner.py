"""The bench's runner: builds quorvel (or takes a given binary), runs the
records of records.py, prints the table with PASS or FAIL, and with --json
writes the same figures with their thresholds and verdicts. See README.md."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

sys.dont_write_bytecode = True
BENCH = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)

import inputs  # noqa: E402
from records import RECORDS, TIMEOUT  # noqa: E402
from report import Report  # noqa: E402

# What each procedure runs besides coreutils and GNU time: (command, Debian package).
NEEDS = {"startup": [("hyperfine", "hyperfine")], "output_system_calls": [("strace", "strace")],
         "counts": [("strace", "strace")], "throughput": [("xargs", "findutils")]}


class Bench:
    """What the procedures share: the binary, the work folder, the inputs."""

    def __init__(self, quorvel, work, report):
        self.quorvel, self.work, self.report = quorvel, work, report
        self.root, self.data, self.timeout = ROOT, os.path.join(ROOT, "data"), TIMEOUT
        self.sample = os.path.join(self.data, "ffmpeg_vp9_opus.webm")
        self.typical = os.path.join(self.data, "mkvmerge_h264_aac_srt.mkv")
        self.made, self.noop = 0, None

    def make(self, kind, count=0):
        """The path of an input: a bundled file (a "data/" path), or one
        generated into the work folder, which remove() deletes."""
        if isinstance(kind, str) and kind.startswith("data/"):
            return os.path.join(ROOT, kind)
        self.made += 1
        path = os.path.join(self.work, "input-%d" % self.made)
        inputs.generate(kind, path, count)
        return path

    def remove(self, *paths):
        for path in paths:
            if os.path.dirname(path) == self.work and os.path.exists(path):
                os.remove(path)

    def static_noop(self):
        """`int main(void) { return 0; }` built with cc -O2 -static, or None."""
        if self.noop is None:
            source, binary = os.path.join(self.work, "noop.c"), os.path.join(self.work, "noop")
            with open(source, "w") as out:
                out.write("int main(void) { return 0; }\n")
            built = shutil.which("cc") and subprocess.run(
                ["cc", "-O2", "-static", "-o", binary, source], capture_output=True).returncode == 0
            self.noop = binary if built else ""
        return self.noop or None


def require(command, package):
    if not shutil.which(command):
        sys.exit("bench/run.sh needs %s: install the Debian package %s (apt-get install %s)"
                 % (command, package, package))


def build():
    require("cmake", "cmake")
    require("c++", "g++")
    build_dir = os.path.join(ROOT, "build-bench")
    for command in (["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                    ["cmake", "--build", build_dir, "-j2", "--target", "quorvel"]):
        if subprocess.run(command, stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit("bench/run.sh: the build failed: " + " ".join(command))
    return os.path.join(build_dir, "quorvel")


def parse(argv):
    parser = argparse.ArgumentParser(
        prog="bench/run.sh", description="Speed, memory and count figures of quorvel against their targets.")
    parser.add_argument("--list", action="store_true", help="list the records and stop")
    parser.add_argument("--json", metavar="FILE", help="also write the figures, thresholds and verdicts as JSON")
    parser.add_argument("--quorvel", metavar="BINARY", help="measure this binary instead of building one")
    parser.add_argument("names", nargs="*", metavar="NAME",
                        help="records to run (all by default); a path to a binary is taken as --quorvel")
    args = parser.parse_args(argv)
    known = {record.name for record in RECORDS}
    names = []
    for name in args.names:
        if name not in known and os.path.isfile(name) and args.quorvel is None:
            args.quorvel = name   # the older form: bench/run.sh path/to/quorvel
        elif name not in known:
            parser.error("no record named %r (--list lists them)" % name)
        else:
            names.append(name)
    args.records = [record for record in RECORDS if not names or record.name in names]
    return args


def list_records():
    for record in RECORDS:
        print("%-24s %s" % (record.name, record.measures))
        print("%-24s   command: %s; targets: %s" % ("", record.command, ", ".join(
            "%s %s" % (key, value) for key, value in record.targets.items()) or "none"))


def main(argv):
    args = parse(argv)
    if args.list:
        list_records()
        return 0
    require("timeout", "coreutils")
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("bench/run.sh needs GNU time as /usr/bin/time: install the Debian package time (apt-get install time)")
    for record in args.records:
        for command, package in NEEDS.get(record.procedure.__name__, []):
            require(command, package)
    quorvel = os.path.realpath(args.quorvel) if args.quorvel else build()
    if not os.access(quorvel, os.X_OK):
        sys.exit("bench/run.sh: %s is not an executable file" % quorvel)
    report = Report()
    work = tempfile.mkdtemp(prefix="quorvel-bench.", dir=os.environ.get("TMPDIR"))
    try:
        bench = Bench(quorvel, work, report)
        print("quorvel: %s" % quorvel)
        # Wall times are only as good as the machine is idle: say how busy it was.
        print("load average at the start: %.2f on %d cores" % (os.getloadavg()[0], os.cpu_count()))
        group = None
        for record in args.records:
            if record.group != group or not record.group:
                print()
                if record.group:
                    print(record.group + ":")
            group = record.group
            report.start(record)
            try:
                record.procedure(record, bench)
            except Exception:   # one broken record must not hide the others' figures
                report.note("the record failed to run:\n" + traceback.format_exc().rstrip())
            sys.stdout.flush()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print()
    if args.json:
        report.write_json(args.json, quorvel, ROOT)
    if report.failures == 0:
        print("all figures meet their targets")
        return 0
    print("%d figure(s) miss their target" % report.failures)
    return 1


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BrokenPipeError:
        # The reader of the table went away (`| head`): stop quietly, as cat
        # would; the work folder is already removed.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(141)
