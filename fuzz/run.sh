#!/usr/bin/env bash
# Builds the libFuzzer target, fuzzes for a bounded time, then replays the
# regression inputs, the seeds, the samples and what the run found, one file
# at a time.
#
#   fuzz/run.sh [BUILD_DIR] [SECONDS]        defaults: build-fuzz 120
#
# Needs clang++ and its libFuzzer runtime (Debian: clang, libclang-rt-dev).
# Exits non-zero on any crash, sanitizer report, leak, timeout (an input that
# takes more than 2 s) or single allocation over 256 MiB. The failing input is
# written to fuzz/regressions/, where it stays as a regression input.
set -euo pipefail

fuzz_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$fuzz_dir")
build=${1:-build-fuzz}
[[ $build == /* ]] || build=$root/$build
seconds=${2:-120}

generator=()
if [[ ! -e $build/CMakeCache.txt ]] && command -v ninja > /dev/null; then
    generator=(-G Ninja)
fi
cmake -S "$root" -B "$build" "${generator[@]}" -DQUORVEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ > /dev/null
cmake --build "$build" -j2 --target quorvel_fuzz
fuzzer=$build/fuzz/quorvel_fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$fuzz_dir/regressions"

# Freed memory held in AddressSanitizer's quarantine counts as resident: keep
# it small so that the resident-memory limit measures the tool, not the sanitizer.
export ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1
# The target writes each input to a file in TMPDIR.
export TMPDIR=$work
limits=(-timeout=2 -malloc_limit_mb=256)

# Seeds: the samples as they are, plus a few small hand-built inputs.
status=0
# Inputs stay small enough to run hundreds of times a second: every sample
# holds its Tracks in its first 5 KB. The replay below takes every file whole.
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$fuzz_dir/regressions/" \
    "$work/corpus" "$root/data" "$fuzz_dir/seeds" "$fuzz_dir/regressions" || status=$?
if ((status != 0)); then
    echo "fuzz/run.sh: the fuzz run failed (status $status); the input is in fuzz/regressions/" >&2
fi

mapfile -t inputs < <(find "$fuzz_dir/regressions" "$fuzz_dir/seeds" "$root/data" "$work/corpus" -type f | sort)
echo "fuzz/run.sh: replaying ${#inputs[@]} inputs"
replay=0
"$fuzzer" "${limits[@]}" "${inputs[@]}" > "$work/replay.log" 2>&1 || replay=$?
if ((replay != 0)); then
    tail -n 60 "$work/replay.log" >&2
    echo "fuzz/run.sh: the replay failed (status $replay)" >&2
    status=1
fi
if ((status == 0)); then
    echo "fuzz/run.sh: no crash, leak, timeout or oversized allocation"
fi
exit "$status"
