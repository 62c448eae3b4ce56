#!/usr/bin/env bash
# Speed, memory and count figures of quorvel against their targets; see
# bench/README.md. Every benchmark is a record in bench/records.py, run by
# bench/runner.py:
#
#   bench/run.sh [--list] [--json FILE] [--quorvel BINARY | BINARY] [NAME...]
#
# Without a binary, quorvel is built in Release in build-bench/ first.
set -euo pipefail
if ! command -v python3 > /dev/null; then
    echo "bench/run.sh needs python3: install the Debian package python3 (apt-get install python3)" >&2
    exit 1
fi
exec python3 -B "$(dirname "${BASH_SOURCE[0]}")/runner.py" "$@"
