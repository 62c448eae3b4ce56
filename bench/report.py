"""The bench's verdicts: every figure judged against its record's threshold,
printed in the table and kept for the JSON report."""

import json
import os
import platform
import subprocess

SCHEMA_VERSION = 1


def seconds(us):
    return "%.3f" % (us / 1e6)


def milliseconds(us):
    return "%.3f" % (us / 1e3)


def mib(kib):
    return "%.1f" % (kib / 1024)


def mb_per_s(size, us):
    """10^6 bytes per second."""
    return round(size / us, 1) if us > 0 else 0.0


def quotient(a, b):
    return round(a / b, 2) if b else float("inf")


def limit_text(value):
    return ("%g" % value) if isinstance(value, (int, float)) else str(value)


class Report:
    def __init__(self):
        self.records = []
        self.failures = 0

    def start(self, record):
        self.current = {"name": record.name, "group": record.group, "measures": record.measures,
                        "command": record.command, "input": describe(record.input_kind),
                        "inputs": {label: describe(kind) for label, kind in record.inputs},
                        "sizes": list(record.sizes),
                        "figures": [], "notes": [], "verdict": "PASS"}
        self.records.append(self.current)

    def figure(self, name, value, unit, at_most=None, at_least=None, samples=None):
        """Records a figure, with the single runs it was drawn from when there
        are several; with a threshold, returns PASS or FAIL (counted)."""
        entry = {"name": name, "value": round(value, 3) if isinstance(value, float) else value, "unit": unit}
        if samples and len(samples) > 1:
            entry["samples"] = [round(sample, 1) for sample in samples]
        verdict = None
        if at_most is not None or at_least is not None:
            op, limit = ("<=", at_most) if at_most is not None else (">=", at_least)
            ok = value <= limit if op == "<=" else value >= limit
            verdict = "PASS" if ok else "FAIL"
            entry.update(threshold=limit, op=op, verdict=verdict)
            if not ok:
                self.fail()
        self.current["figures"].append(entry)
        return verdict

    def fail(self):
        self.failures += 1
        self.current["verdict"] = "FAIL"

    def note(self, text, miss=True):
        """A note in the table; a miss when the figures near it mean nothing."""
        print("  note: " + text)
        self.current["notes"].append(text)
        if miss:
            self.fail()

    def memory(self, name, kib, targets, loaded=0):
        """Judges a peak of `kib` against the record's memory bound: a base
        plus a factor times the largest content the run loads (bytes);
        returns the text for the table."""
        limit = round(targets["rss_base_mib"] * 1024 + targets["rss_per_loaded"] * loaded / 1024)
        verdict = self.figure(name, kib, "KiB peak", at_most=limit)
        return "%7.1f MiB peak (<= %s MiB %s)" % (kib / 1024, mib(limit).removesuffix(".0"), verdict)

    def write_json(self, path, quorvel, root):
        data = {"schema_version": SCHEMA_VERSION, "commit": commit(root), "machine": machine(),
                "quorvel": quorvel, "records": self.records, "failures": self.failures,
                "verdict": "PASS" if self.failures == 0 else "FAIL"}
        with open(path, "w") as out:
            json.dump(data, out, indent=2)
            out.write("\n")


def describe(kind):
    """An input kind for the JSON report: its name, or what a generator says it writes."""
    if kind is None or isinstance(kind, str):
        return kind
    return getattr(kind, "description", getattr(kind, "__name__", repr(kind)))


def commit(root):
    """The commit measured, with "-dirty" when the work tree has changes."""
    done = subprocess.run(["git", "-C", root, "rev-parse", "HEAD"], capture_output=True, text=True)
    if done.returncode != 0:
        return None
    changes = subprocess.run(["git", "-C", root, "status", "--porcelain", "--untracked-files=no"],
                             capture_output=True, text=True).stdout
    return done.stdout.strip() + ("-dirty" if changes.strip() else "")


def machine():
    uname = platform.uname()
    cpu = None
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"uname": " ".join([uname.system, uname.node, uname.release, uname.version, uname.machine]),
            "cpu_model": cpu, "cores": os.cpu_count(), "load_average": [round(load, 2) for load in os.getloadavg()]}
