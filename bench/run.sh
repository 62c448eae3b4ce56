#!/usr/bin/env bash
# Speed and memory figures of quorvel on generated inputs; see bench/README.md.
#
#   bench/run.sh [QUORVEL_BINARY]
#
# Without an argument, quorvel is built in Release in build-bench/ first.
# The inputs are generated one at a time in a temporary folder (up to about
# 1.3 GiB of disk at once) and removed when the script ends.
set -euo pipefail
if [[ -z ${EPOCHREALTIME:-} ]]; then
    echo "bench/run.sh needs bash 5 or later" >&2
    exit 1
fi

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$bench_dir")
if (($# >= 1)); then
    quorvel=$(realpath "$1")
else
    cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF > /dev/null
    cmake --build "$root/build-bench" -j2 --target quorvel > /dev/null
    quorvel=$root/build-bench/quorvel
fi
sample=$root/data/ffmpeg_vp9_opus.webm

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
input=$work/input

MIB=$((1 << 20))
GIB=$((1 << 30))
SPEED_TARGET=50    # MB/s (10^6 bytes) on flood, zero-byte and resynchronisation inputs
RSS_BASE=32        # MiB, plus four times the largest element content a run loads
NESTED_LEVELS=7    # unknown-size masters nested from level 0 to level 6

# The input generator. Element IDs keep their length-marker bits; every
# master below has the 8-byte "size not known" field unless its size is given.
cat > "$work/generate.py" << 'PYTHON'
import sys

MIB = 1 << 20
UNKNOWN = b"\x01" + b"\xff" * 7

def size(value, width=None):
    if width is None:
        width = 1
        while width < 8 and value >= (1 << (7 * width)) - 1:
            width += 1
    field = bytearray(value.to_bytes(width, "big"))
    field[0] |= 0x80 >> (width - 1)
    return bytes(field)

def element(hex_id, payload, width=None):
    return bytes.fromhex(hex_id) + size(len(payload), width) + payload

def ebml_header(doc_type=None):
    children = element("4286", b"\x01")
    if doc_type is not None:
        children += element("4282", doc_type)
    return element("1A45DFA3", children)

def track_entry():
    return element("AE", element("D7", b"\x01") + element("86", b"V_VP9"))

def repeat(out, unit, total):
    """Writes `unit` over and over, `total` bytes in all."""
    block = unit * max(1, MIB // len(unit))
    while total >= len(block):
        out.write(block)
        total -= len(block)
    out.write((unit * (total // len(unit) + 1))[:total])

def seekhead_chain(count):
    """SeekHeads of 73 bytes each; each one indexes itself, the next, the
    first and the previous SeekHead, and the last one also indexes Tracks."""
    def seek(hex_id, position):
        return element("4DBB", element("53AB", bytes.fromhex(hex_id)) + element("53AC", position.to_bytes(4, "big")))
    heads = []
    for i in range(count):
        body = seek("114D9B74", 73 * i) + seek("114D9B74", 73 * min(i + 1, count - 1))
        body += seek("114D9B74", 0) + seek("114D9B74", 73 * max(i - 1, 0))
        if i == count - 1:
            body += seek("1654AE6B", 73 * count + 17)
        heads.append(element("114D9B74", body))
    return b"".join(heads)

kind, path = sys.argv[1], sys.argv[2]
with open(path, "wb") as out:
    if kind == "scan":
        # Every 0x41 starts an unknown two-byte ID with a valid size.
        out.write(ebml_header())
        repeat(out, b"A", 256 * MIB)
    elif kind == "nested":
        out.write(ebml_header(b"matroska"))
        # Segment > Tracks > Track Entry > ContentEncodings > ContentEncoding
        # > ContentEncryption > ContentEncAESSettings, levels 0 to 6.
        for hex_id in ("18538067", "1654AE6B", "AE", "6D80", "6240", "5035", "47E7"):
            out.write(bytes.fromhex(hex_id) + UNKNOWN)
        repeat(out, b"A", 64 * MIB)
    elif kind == "empty-unknown":
        # Empty elements whose 4-byte ID no table holds, then Tracks.
        count = 4_000_000
        tracks = element("1654AE6B", track_entry())
        out.write(ebml_header(b"matroska") + bytes.fromhex("18538067") + size(5 * count + len(tracks), 8))
        repeat(out, bytes.fromhex("10202020") + size(0), 5 * count)
        out.write(tracks)
    elif kind == "seekhead-chain":
        heads = seekhead_chain(100_000)
        tracks = element("1654AE6B", track_entry())
        out.write(ebml_header(b"webm") + element("18538067", heads + tracks, 8))
    elif kind == "text":
        repeat(out, b"Lorem ipsum dolor sit amet, consectetur adipiscing elit.\n", 1 << 30)
    elif kind == "unknown-headers":
        # A 4-byte ID no table holds with four bytes of content; the content
        # reads as another unknown header that ends where the next one starts.
        out.write(ebml_header())
        repeat(out, bytes.fromhex("10202020") + size(4) + b"    ", 256 * MIB)
    else:
        sys.exit("unknown input kind " + kind)
PYTHON

generate() { python3 "$work/generate.py" "$1" "$input"; }

microseconds() { echo "${EPOCHREALTIME//[!0-9]/}"; }

# One timed run with standard output discarded: sets `elapsed` (microseconds)
# and `rss` (peak resident KiB).
measure() {
    local start
    if [[ -x /usr/bin/time ]]; then
        start=$(microseconds)
        /usr/bin/time -f %M -o "$work/rss" "$@" > /dev/null
        elapsed=$(($(microseconds) - start))
        rss=$(tail -n 1 "$work/rss")
    else
        read -r elapsed rss < <(python3 -c '
import resource, subprocess, sys, time
start = time.perf_counter()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=False)
elapsed = int((time.perf_counter() - start) * 1e6)
print(elapsed, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@")
    fi
}

# Wall-clock microseconds of one run, standard output discarded.
run_time() {
    local start
    start=$(microseconds)
    "$@" > /dev/null
    echo $(($(microseconds) - start))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# PASS or FAIL: whether $1 >= $2, or $1 <= $2.
at_least() { if awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 >= b + 0) }'; then echo PASS; else echo FAIL; fi; }
at_most() { if awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 <= b + 0) }'; then echo PASS; else echo FAIL; fi; }

failures=0
tally() { [[ $1 == PASS ]] || failures=$((failures + 1)); }

# Prints one line for the input in $input: time, speed, peak memory, targets.
# $1 name, $2 largest content the run loads (bytes), $3 speed target (MB/s).
worst_case() {
    local name=$1 loaded=$2 speed_target=$3 bytes speed rss_limit speed_ok rss_ok
    bytes=$(stat -c %s "$input")
    cat "$input" > /dev/null   # read once, so that every run finds it cached
    measure "$quorvel" "$input"
    speed=$(awk -v b="$bytes" -v t="$elapsed" 'BEGIN { printf "%.1f", b / t }')
    rss_limit=$(awk -v l="$loaded" -v base="$RSS_BASE" 'BEGIN { printf "%.0f", base + 4 * l / 1048576 }')
    speed_ok=$(at_least "$speed" "$speed_target")
    rss_ok=$(at_most "$rss" $((rss_limit * 1024)))
    tally "$speed_ok"
    tally "$rss_ok"
    printf '%-22s %11d bytes %8.3f s %8s MB/s (>= %5s %s) %7.1f MiB peak (<= %s MiB %s)\n' \
        "$name" "$bytes" "$(awk -v t="$elapsed" 'BEGIN { print t / 1e6 }')" "$speed" "$speed_target" "$speed_ok" \
        "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$rss_limit" "$rss_ok"
}

echo "quorvel: $quorvel"
echo

# --- Scan: the DocType search walks 256 MiB of unknown headers. -------------
generate scan
bytes=$(stat -c %s "$input")
cat "$input" > /dev/null
cat_time=$(run_time cat "$input")
measure "$quorvel" "$input"
speed=$(awk -v b="$bytes" -v t="$elapsed" 'BEGIN { printf "%.1f", b / t }')
result=$(at_least "$speed" "$SPEED_TARGET")
tally "$result"
echo "scan: $bytes bytes (EBML header without DocType, then 0x41 bytes)"
printf '  quorvel %.3f s = %s MB/s   cat %.3f s = %.1f MB/s   target >= %s MB/s: %s   (peak %.1f MiB)\n' \
    "$(awk -v t="$elapsed" 'BEGIN { print t / 1e6 }')" "$speed" "$(awk -v t="$cat_time" 'BEGIN { print t / 1e6 }')" \
    "$(awk -v b="$bytes" -v t="$cat_time" 'BEGIN { print b / t }')" "$SPEED_TARGET" "$result" \
    "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
rm -f "$input"
echo

# --- SeekHead: a 1 GiB file costs what the small sample costs. --------------
big=$work/big.webm
cp "$sample" "$big"
truncate -s "$GIB" "$big"   # zero bytes after the Segment, which has a known size
if ! cmp -s <("$quorvel" "$sample") <("$quorvel" "$big"); then
    echo "seekhead: the grown file gives another output than the sample" >&2
    exit 1
fi
runs=50
: > "$work/true.times"
: > "$work/small.times"
: > "$work/big.times"
for ((i = 0; i < runs; ++i)); do
    run_time /bin/true >> "$work/true.times"
    run_time "$quorvel" "$sample" >> "$work/small.times"
    run_time "$quorvel" "$big" >> "$work/big.times"
done
true_median=$(median < "$work/true.times")
small_median=$(median < "$work/small.times")
big_median=$(median < "$work/big.times")
ratio=$(awk -v b="$big_median" -v s="$small_median" 'BEGIN { printf "%.2f", b / s }')
result=$(at_most "$ratio" 1.2)
tally "$result"
echo "seekhead: median of $runs runs, $(basename "$sample") ($(stat -c %s "$sample") bytes) and the same grown to 1 GiB"
printf '  small %.3f ms   big %.3f ms   /bin/true %.3f ms\n' \
    "$(awk -v t="$small_median" 'BEGIN { print t / 1e3 }')" "$(awk -v t="$big_median" 'BEGIN { print t / 1e3 }')" \
    "$(awk -v t="$true_median" 'BEGIN { print t / 1e3 }')"
printf '  big / small = %s (target <= 1.2: %s)   small / true = %.2f   big / true = %.2f\n' "$ratio" "$result" \
    "$(awk -v a="$small_median" -v b="$true_median" 'BEGIN { print a / b }')" \
    "$(awk -v a="$big_median" -v b="$true_median" 'BEGIN { print a / b }')"
rm -f "$big"
echo

# --- Worst cases: time linear in the size, memory bounded. ------------------
echo "worst cases:"
nested_target=$(awk -v s="$SPEED_TARGET" -v n="$NESTED_LEVELS" 'BEGIN { printf "%.2f", s / (3 * n + 1) }')
generate nested
worst_case "nested unknown sizes" 0 "$nested_target"
generate empty-unknown
worst_case "empty unknown elements" 0 "$SPEED_TARGET"
generate seekhead-chain
worst_case "chained SeekHeads" 0 "$SPEED_TARGET"
generate text
# No zero byte either, so the whole 1 GiB is prelude text the tool returns.
worst_case "text, no 0x1A" "$GIB" "$SPEED_TARGET"
printf '\0' | dd of="$input" bs=1 seek=1024 conv=notrunc status=none
worst_case "text, zero at 1 KiB" 1024 "$SPEED_TARGET"
rm -f "$input"
truncate -s "$GIB" "$input"
worst_case "zero bytes" 0 "$SPEED_TARGET"
rm -f "$input"
generate unknown-headers
worst_case "unknown headers" 0 "$SPEED_TARGET"
rm -f "$input"

echo
if ((failures == 0)); then
    echo "all figures meet their targets"
else
    echo "$failures figure(s) miss their target"
    exit 1
fi
