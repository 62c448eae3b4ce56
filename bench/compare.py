#!/usr/bin/env python3
"""Compares two JSON reports of the bench (`bash bench/run.sh --json FILE`):

    python3 bench/compare.py BEFORE.json AFTER.json

prints every figure that both hold: its value before and after, the ratio
after / before, and the verdicts when they differ. Only the figures of
records that both reports ran are compared."""

import json
import sys

SCHEMA_VERSION = 1


def load(path):
    with open(path) as report:
        data = json.load(report)
    if data.get("schema_version") != SCHEMA_VERSION:
        sys.exit("%s: schema version %r, expected %d" % (path, data.get("schema_version"), SCHEMA_VERSION))
    figures = {(record["name"], figure["name"]): figure for record in data["records"] for figure in record["figures"]}
    return data, figures


def number(value):
    if isinstance(value, int):
        return "%d" % value
    return "%.2f" % value if abs(value) < 1000 else "%.0f" % value


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.strip())
    (before, old), (after, new) = load(argv[0]), load(argv[1])
    for label, data in (("before", before), ("after", after)):
        machine = data["machine"]
        print("%-6s %s on %s, %s cores, load %s" % (label, data["commit"], machine["cpu_model"], machine["cores"],
                                                    machine.get("load_average")))
    print()
    print("%-22s %-38s %14s %14s %7s  %s" % ("record", "figure", "before", "after", "ratio", "verdict"))
    for key, figure in new.items():
        if key not in old:
            continue
        was, now = old[key]["value"], figure["value"]
        ratio = "%.2f" % (now / was) if was else "-"
        verdicts = (old[key].get("verdict"), figure.get("verdict"))
        verdict = verdicts[1] or "" if verdicts[0] == verdicts[1] else "%s -> %s" % verdicts
        print("%-22s %-38s %14s %14s %7s  %s" % (key[0], key[1][:38], number(was), number(now), ratio, verdict))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
