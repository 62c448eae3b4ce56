#!/usr/bin/env bash
# Builds the libFuzzer target, fuzzes for a bounded time, then replays the
# regression inputs, the seeds, the samples and what the run found, one file
# at a time.
#
#   fuzz/run.sh [BUILD_DIR] [SECONDS]        defaults: build-fuzz 120
#
# Needs clang++ and its libFuzzer runtime (Debian: clang, libclang-rt-dev).
# Exits non-zero on any crash, sanitizer report, leak, timeout (an input that
# takes more than 2 s), single allocation over 256 MiB or a resident size over
# 1 GiB (the corpus held in memory included). The failing input is
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
limits=(-timeout=2 -malloc_limit_mb=256 -rss_limit_mb=1024)

# Inputs up to 1 MiB, many times the read window, so that the window's
# refills, positions far into the file and long runs of unknown bytes are
# fuzzed too. libFuzzer would let its inputs grow a little at a time and stay
# small in a short run: its length control is off, and every sample also
# seeds the run in four shapes just under the limit. An input of 1 MiB takes
# some 30 ms under the sanitizers, against well under 1 ms for a sample:
# inputs are picked less often the longer they take, so that small inputs
# still make most of the runs.
max_len=$((1024 * 1024))
# An eight-byte element size field holding $1.
size8() {
    printf '\x01'
    for shift in 48 40 32 24 16 8 0; do printf '%b' "\\0$(printf %03o $(($1 >> shift & 255)))"; done
}
# The length of the EBML header that starts the sample $1: its ID (four
# bytes), its size field and its content.
header_length() {
    local field width=1 value i
    read -ra field < <(od -An -tu1 -j4 -N8 "$1")
    while ((width < 8 && (field[0] & (256 >> width)) == 0)); do ((++width)); done
    value=$((field[0] & (255 >> width)))
    for ((i = 1; i < width; ++i)); do value=$((value << 8 | field[i])); done
    echo $((4 + width + value))
}
near=$((max_len - 4096))
mkdir -p "$work/near-limit"
for sample in "$root"/data/*.mkv "$root"/data/*.webm; do
    name=$work/near-limit/$(basename "$sample")
    bytes=$(stat -c %s "$sample")
    # The Segment far from the start, behind a Void after the EBML header.
    header=$(header_length "$sample")
    void=$((near - bytes - 9))
    { head -c "$header" "$sample"; printf '\xEC'; size8 "$void"; head -c "$void" /dev/zero
      tail -c +$((header + 1)) "$sample"; } > "$name.far"
    # A text in front of the EBML data.
    { head -c $((near - bytes)) /dev/zero | tr '\0' 'T'; cat "$sample"; } > "$name.prelude"
    # A download that stopped: zero bytes after the sample.
    cp "$sample" "$name.zero-tail" && truncate -s "$near" "$name.zero-tail"
    # The sample over and over: Segments, Clusters and SeekHead targets across windows.
    for ((i = 0; i < near / bytes + 1; ++i)); do cat "$sample"; done > "$name.repeated"
    truncate -s "$near" "$name.repeated"
done

status=0
"$fuzzer" "${limits[@]}" -max_total_time="$seconds" -max_len="$max_len" -len_control=0 \
    -entropic_scale_per_exec_time=1 -dict="$fuzz_dir/ebml.dict" -print_final_stats=1 -artifact_prefix="$fuzz_dir/regressions/" \
    "$work/corpus" "$work/near-limit" "$root/data" "$fuzz_dir/seeds" "$fuzz_dir/regressions" || status=$?
if ((status != 0)); then
    echo "fuzz/run.sh: the fuzz run failed (status $status); the input is in fuzz/regressions/" >&2
fi

mapfile -t inputs < <(find "$fuzz_dir/regressions" "$fuzz_dir/seeds" "$root/data" "$work/near-limit" "$work/corpus" \
    -type f | sort)
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
