#!/usr/bin/env bash
# Speed and memory figures of quorvel on generated inputs; see bench/README.md.
#
#   bench/run.sh [QUORVEL_BINARY]
#
# Without an argument, quorvel is built in Release in build-bench/ first.
# The inputs are generated one at a time in a temporary folder (up to about
# 1.6 GB of disk at once) and removed when the script ends.
set -euo pipefail
if [[ -z ${EPOCHREALTIME:-} ]]; then
    echo "bench/run.sh needs bash 5 or later" >&2
    exit 1
fi

# One line naming the Debian package for whatever is missing, then stop.
require() {
    command -v "$1" > /dev/null && return
    echo "bench/run.sh needs $1: install the Debian package $2 (apt-get install $2)" >&2
    exit 1
}
require python3 python3
require timeout coreutils
require hyperfine hyperfine
require strace strace
if [[ ! -x /usr/bin/time ]]; then
    echo "bench/run.sh needs GNU time as /usr/bin/time: install the Debian package time (apt-get install time)" >&2
    exit 1
fi

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$bench_dir")
if (($# >= 1)); then
    quorvel=$(realpath "$1")
else
    require cmake cmake
    require c++ g++
    cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
    cmake --build "$root/build-bench" -j2 --target quorvel > /dev/null
    quorvel=$root/build-bench/quorvel
fi
sample=$root/data/ffmpeg_vp9_opus.webm
typical=$root/data/mkvmerge_h264_aac_srt.mkv

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
input=$work/input

MIB=$((1 << 20))
GIB=$((1 << 30))
SPEED_TARGET=50    # MB/s (10^6 bytes) over the file size
TINY_SPEED_TARGET=15   # MB/s of input when every 3 input bytes print a line
TEXT_SPEED_TARGET=200  # MB/s of input when all of it is prelude text
RSS_BASE=32        # MiB of peak memory, plus RSS_PER_LOADED times ...
RSS_PER_LOADED=1.25    # ... the largest content the run holds at once
RATIO_SLACK=1.5    # a k times larger input may take up to 1.5 k times as long
NESTED_LEVELS=7    # unknown-size masters nested from level 0 to level 6
RUN_TIMEOUT=60     # seconds; a run still going then is stopped and fails
ROUNDS=50          # rounds of interleaved runs for the medians of short runs
VP9_END=$'\t\t\tCodec Id V_VP9\n'   # last line of the Tracks listing of most inputs

# The input generator: `generate.py KIND PATH [COUNT]`. Element IDs keep their
# length-marker bits; every master below has the 8-byte "size not known" field
# unless its size is given. Runs of zero bytes are left as holes in the file,
# so that large inputs take little disk.
cat > "$work/generate.py" << 'PYTHON'
import sys

MIB = 1 << 20
GIB = 1 << 30
UNKNOWN = b"\x01" + b"\xff" * 7
SEGMENT = bytes.fromhex("18538067")
SEEKHEAD = bytes.fromhex("114D9B74")
TRACKS = bytes.fromhex("1654AE6B")

def size(value, width=None):
    if width is None:
        width = 1
        while width < 8 and value >= (1 << (7 * width)) - 1:
            width += 1
    field = bytearray(value.to_bytes(width, "big"))
    field[0] |= 0x80 >> (width - 1)
    return bytes(field)

def header(element_id, length, width=None):
    """An element's ID and size field, for `length` bytes of content."""
    if isinstance(element_id, str):
        element_id = bytes.fromhex(element_id)
    return element_id + size(length, width)

def element(element_id, payload, width=None):
    return header(element_id, len(payload), width) + payload

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

def write_parts(out, parts):
    """Writes byte strings; an integer stands for that many zero bytes, left
    as a hole."""
    for part in parts:
        if isinstance(part, int):
            out.seek(part, 1)
        else:
            out.write(part)
    out.truncate()

def parts_length(parts):
    return sum(part if isinstance(part, int) else len(part) for part in parts)

def seek(target_id, position):
    """A Seek entry of 17 bytes: the target's ID bytes and its offset from the
    Segment's first data byte."""
    return element("4DBB", element("53AB", target_id) + element("53AC", position.to_bytes(4, "big")))

SEEK_LENGTH = len(seek(TRACKS, 0))

def seekhead(entries):
    """A SeekHead with an 8-byte size field: 12 header bytes, then the entries."""
    return element(SEEKHEAD, b"".join(entries), 8)

def distinct_id_seeks(count):
    """Seek entries for `count` distinct 4-byte IDs that no table holds."""
    return [seek((0x10000000 | i).to_bytes(4, "big"), i) for i in range(count)]

def webm_segment(out, body):
    out.write(ebml_header(b"webm") + element(SEGMENT, body, 8))

def indexed_tracks(out, tracks_parts):
    """A WebM file whose Segment opens with a SeekHead pointing at Tracks; the
    Tracks content (8-byte size) is `tracks_parts`, as for write_parts."""
    head = seekhead([seek(TRACKS, 0)])
    head = seekhead([seek(TRACKS, len(head))])
    tracks_length = parts_length(tracks_parts)
    tracks_header = header(TRACKS, tracks_length, 8)
    segment_length = len(head) + len(tracks_header) + tracks_length
    out.write(ebml_header(b"webm") + header(SEGMENT, segment_length, 8) + head + tracks_header)
    write_parts(out, tracks_parts)

def seekhead_chain(count):
    """SeekHeads of 73 bytes each; each one indexes itself, the next, the
    first and the previous SeekHead, and the last one also indexes Tracks."""
    heads = []
    for i in range(count):
        body = seek(SEEKHEAD, 73 * i) + seek(SEEKHEAD, 73 * min(i + 1, count - 1))
        body += seek(SEEKHEAD, 0) + seek(SEEKHEAD, 73 * max(i - 1, 0))
        if i == count - 1:
            body += seek(TRACKS, 73 * count + 17)
        heads.append(element(SEEKHEAD, body))
    return b"".join(heads)

def open_ebml_header():
    """An EBML header of unknown size without a DocType: the search for the
    DocType then goes on through whatever follows."""
    return bytes.fromhex("1A45DFA3") + UNKNOWN + element("4286", b"\x01")

def scan(out, count):
    # Every 0x41 starts an unknown two-byte ID with a valid size.
    out.write(open_ebml_header())
    repeat(out, b"A", 256 * MIB)

def nested(out, count):
    out.write(ebml_header(b"matroska"))
    # Segment > Tracks > Track Entry > ContentEncodings > ContentEncoding
    # > ContentEncryption > ContentEncAESSettings, levels 0 to 6.
    for hex_id in ("18538067", "1654AE6B", "AE", "6D80", "6240", "5035", "47E7"):
        out.write(bytes.fromhex(hex_id) + UNKNOWN)
    repeat(out, b"A", 64 * MIB)

def empty_unknown(out, count):
    # Empty elements whose 4-byte ID no table holds, then Tracks.
    count = 4_000_000
    tracks = element(TRACKS, track_entry())
    out.write(ebml_header(b"matroska") + SEGMENT + size(5 * count + len(tracks), 8))
    repeat(out, bytes.fromhex("10202020") + size(0), 5 * count)
    out.write(tracks)

def chained_seekheads(out, count):
    heads = seekhead_chain(100_000)
    webm_segment(out, heads + element(TRACKS, track_entry()))

def text(out, count):
    # `count` bytes of lines of text: no 0x1A byte and no zero byte.
    repeat(out, b"Lorem ipsum dolor sit amet, consectetur adipiscing elit.\n", count)

def unknown_headers(out, count):
    # A 4-byte ID no table holds with four bytes of content; the content
    # reads as another unknown header that ends where the next one starts.
    out.write(open_ebml_header())
    repeat(out, bytes.fromhex("10202020") + size(4) + b"    ", 256 * MIB)

def seek_ids(out, count):
    # One SeekHead: `count` distinct IDs, then Tracks, which follows it.
    entries = distinct_id_seeks(count)
    entries.append(seek(TRACKS, 12 + SEEK_LENGTH * (count + 1)))
    webm_segment(out, seekhead(entries) + element(TRACKS, track_entry()))

def seekhead_list(out, count):
    # SeekHeads of 22 bytes, each pointing at the next one; the last points at
    # Tracks, which follows it.
    heads = [element(SEEKHEAD, seek(SEEKHEAD, 22 * (i + 1))) for i in range(count - 1)]
    heads.append(element(SEEKHEAD, seek(TRACKS, 22 * count)))
    webm_segment(out, b"".join(heads) + element(TRACKS, track_entry()))

def seekheads_past_end(out, count):
    # SeekHead entries at distinct positions beyond the end of the file.
    entries = [seek(SEEKHEAD, 0x80000000 + i) for i in range(count)]
    entries.append(seek(TRACKS, 12 + SEEK_LENGTH * (count + 1)))
    webm_segment(out, seekhead(entries) + element(TRACKS, track_entry()))

def seekheads_inside(out, count):
    # SeekHead entries at distinct positions inside the file: entry i points
    # at the start of entry count - 1 - i of the same SeekHead.
    entries = [seek(SEEKHEAD, 12 + SEEK_LENGTH * (count - 1 - i)) for i in range(count)]
    entries.append(seek(TRACKS, 12 + SEEK_LENGTH * (count + 1)))
    webm_segment(out, seekhead(entries) + element(TRACKS, track_entry()))

def seekheads_into_padding(out, count):
    # A front SeekHead whose entries point at distinct bytes inside a Void
    # padding of `count` zero bytes; then a long SeekHead of `count` distinct
    # IDs that also indexes Tracks; then Tracks.
    padding_start = 12 + SEEK_LENGTH * count + 9
    front = seekhead([seek(SEEKHEAD, padding_start + i) for i in range(count)])
    padding = element("EC", bytes(count), 8)
    long_entries = distinct_id_seeks(count)
    long_entries.append(seek(TRACKS, padding_start + count + 12 + SEEK_LENGTH * (count + 1)))
    webm_segment(out, front + padding + seekhead(long_entries) + element(TRACKS, track_entry()))

def tiny_elements(out, count):
    # One Track Entry of `count` Track Numbers of 3 bytes each.
    entry = header("AE", 3 * count, 8) + bytes.fromhex("D78101") * count
    indexed_tracks(out, [entry])

def large_global(global_id):
    def generate(out, count):
        # `count` elements of 64 MiB that are read and dropped, then a Track Entry.
        indexed_tracks(out, [header(global_id, 64 * MIB, 8), 64 * MIB] * count + [track_entry()])
    return generate

def codec_private(out, count):
    # `count` Track Entries, each with a Codec Private of 64 MiB that ends in AB CD.
    entry_parts = [element("D7", b"\x01"), header("63A2", 64 * MIB, 8), 64 * MIB - 2, b"\xab\xcd"]
    entry = [header("AE", parts_length(entry_parts), 8)] + entry_parts
    indexed_tracks(out, entry * count)

def nested_crcs(out, count):
    # The seven unknown-size masters of `nested`, then `count` CRC-32 of 4 MiB.
    out.write(ebml_header(b"matroska"))
    for hex_id in ("18538067", "1654AE6B", "AE", "6D80", "6240", "5035", "47E7"):
        out.write(bytes.fromhex(hex_id) + UNKNOWN)
    write_parts(out, [header("BF", 4 * MIB, 8), 4 * MIB] * count)

def zero_gap(out, count):
    # 1 GiB of zero bytes (not a Void) at the start of the Segment, then Tracks.
    tracks = element(TRACKS, track_entry())
    out.write(ebml_header(b"matroska") + header(SEGMENT, GIB + len(tracks), 8))
    write_parts(out, [GIB, tracks])

def no_doctype_large(out, count):
    # An EBML header of known size without a DocType, then a Segment of 1 GiB of zero bytes.
    out.write(ebml_header() + header(SEGMENT, GIB, 8))
    write_parts(out, [GIB])

def long_doctype(out, count):
    # A DocType of 64 MiB (the most the tool loads), without a zero byte.
    out.write(ebml_header(b"a" * (64 * MIB)))

def no_doctype_small(out, count):
    out.write(ebml_header() + element(SEGMENT, element(TRACKS, track_entry()), 8))

KINDS = {
    "scan": scan,
    "nested": nested,
    "empty-unknown": empty_unknown,
    "seekhead-chain": chained_seekheads,
    "text": text,
    "unknown-headers": unknown_headers,
    "seek-ids": seek_ids,
    "seekhead-list": seekhead_list,
    "seekheads-past-end": seekheads_past_end,
    "seekheads-inside": seekheads_inside,
    "seekheads-into-padding": seekheads_into_padding,
    "tiny-elements": tiny_elements,
    "crc-64mib": large_global("BF"),
    "signature-64mib": large_global("1B538667"),
    "codec-private-64mib": codec_private,
    "nested-crc": nested_crcs,
    "zero-gap": zero_gap,
    "no-doctype-large": no_doctype_large,
    "no-doctype-small": no_doctype_small,
    "long-doctype": long_doctype,
}

kind, path = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 0
if kind not in KINDS:
    sys.exit("unknown input kind " + kind)
with open(path, "wb") as out:
    KINDS[kind](out, count)
PYTHON

# Runs a command once and says what is wrong with its standard output, or
# nothing when it looks right: `check_output.py TIMEOUT MIN_BYTES END START
# COMMAND...` wants exit status 0, an output of at least MIN_BYTES that ends
# with END and, unless START is empty, holds START in its first 64 KiB.
cat > "$work/check_output.py" << 'PYTHON'
import subprocess, sys, threading

timeout, min_bytes = float(sys.argv[1]), int(sys.argv[2])
end, start = sys.argv[3].encode(), sys.argv[4].encode()
run = subprocess.Popen(sys.argv[5:], stdout=subprocess.PIPE)
timer = threading.Timer(timeout, run.kill)
timer.start()
head, tail, total = b"", b"", 0
while chunk := run.stdout.read(1 << 20):
    if len(head) < 65536:
        head += chunk[:65536 - len(head)]
    tail = (tail + chunk)[-4096:]
    total += len(chunk)
status = run.wait()
timer.cancel()
problems = []
if status != 0:
    problems.append("exit status %d" % status)
if total < min_bytes:
    problems.append("%d bytes, expected at least %d" % (total, min_bytes))
if not tail.endswith(end):
    problems.append("ends with %r, expected %r" % (tail[-max(len(end), 40):], end))
if start and start not in head:
    problems.append("no %r near the start" % start)
print("; ".join(problems))
PYTHON

generate() { python3 "$work/generate.py" "$1" "$input" "${2:-0}"; }

failures=0
# Sets `verdict` to PASS when $1 is at least (at_least) or at most (at_most)
# $3, else to FAIL, which is counted.
judge() {
    if awk -v a="$1" -v b="$3" -v op="$2" 'BEGIN { exit !(op == "at_least" ? a + 0 >= b + 0 : a + 0 <= b + 0) }'; then
        verdict=PASS
    else
        verdict=FAIL
        failures=$((failures + 1))
    fi
}

seconds() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e6 }'; }            # from microseconds
milliseconds() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e3 }'; }       # from microseconds
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }               # from KiB
mb_per_s() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.1f", b / t }'; }   # bytes over microseconds
quotient() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs the tool once on $input and counts a failure, with a short note, when
# its output looks wrong: then the figures that follow mean nothing. The run
# also brings the input into the page cache. $1 the expected end of the
# output, $2 its least length in bytes, $3 a text expected near its start.
check_output() {
    local problem
    problem=$(python3 "$work/check_output.py" "$RUN_TIMEOUT" "${2:-0}" "$1" "${3:-}" "$quorvel" "$input")
    if [[ -n $problem ]]; then
        echo "  note: the output looks wrong ($problem); the figures below mean nothing"
        failures=$((failures + 1))
    fi
}

# Appends the wall-clock microseconds of one run of "$@" (standard output
# discarded) to the file $1.
time_once() {
    local file=$1 start
    shift
    start=${EPOCHREALTIME//[!0-9]/}
    "$@" > /dev/null
    echo $((${EPOCHREALTIME//[!0-9]/} - start)) >> "$file"
}

# One run of "$@" with standard output discarded, stopped after RUN_TIMEOUT
# seconds: sets `elapsed` (microseconds), `rss` (peak resident KiB) and
# `timed_out` (1 or 0).
measure() {
    local start status=0
    start=${EPOCHREALTIME//[!0-9]/}
    /usr/bin/time -f %M -o "$work/rss" timeout "$RUN_TIMEOUT" "$@" > /dev/null || status=$?
    elapsed=$((${EPOCHREALTIME//[!0-9]/} - start))
    rss=$(tail -n 1 "$work/rss")
    timed_out=$((status == 124))
}

# The tool on $input: one run, or the median time of five (and the largest
# peak) when a run takes under a second, where a single run is noisy.
measure_tool() {
    local times largest
    measure "$quorvel" "$input"
    ((elapsed < 1000000)) || return 0
    times=$elapsed
    largest=$rss
    for _ in 1 2 3 4; do
        measure "$quorvel" "$input"
        times+=" $elapsed"
        if ((rss > largest)); then largest=$rss; fi
    done
    elapsed=$(tr ' ' '\n' <<< "$times" | median)
    rss=$largest
}

# Judges a peak of $1 KiB against RSS_BASE MiB plus RSS_PER_LOADED times the
# $2 bytes of the largest content the run holds; sets `memory` to the figure,
# its limit and the verdict.
judge_memory() {
    local limit
    limit=$(awk -v base="$RSS_BASE" -v per="$RSS_PER_LOADED" -v l="$2" 'BEGIN { printf "%.0f", base * 1024 + per * l / 1024 }')
    judge "$1" at_most "$limit"
    memory=$(printf '%7.1f MiB peak (<= %s MiB %s)' "$(mib "$1")" "$(mib "$limit" | sed 's/\.0$//')" "$verdict")
}

# Each command (a function name) runs once per round, $1 rounds, so that
# they share whatever the machine is doing; sets median_us[COMMAND].
declare -A median_us=()
interleaved_medians() {
    local rounds=$1 round command
    shift
    for command; do : > "$work/$command.times"; done
    for ((round = 0; round < rounds; ++round)); do
        for command; do time_once "$work/$command.times" "$command"; done
    done
    for command; do median_us[$command]=$(median < "$work/$command.times"); done
}

# The tool on two files beside /bin/true: median wall times of interleaved
# runs and a target on the ratio second / first, then the peak memory of the
# second. $1 and $2 name and path of the first file, $3 and $4 those of the
# second, $5 the ratio target. The two outputs must be the same. A run of the
# second file over a second long gets 3 rounds instead of ROUNDS: it misses
# its target anyway, and the run stays short.
first_run() { "$quorvel" "$first_file"; }
second_run() { "$quorvel" "$second_file"; }
true_run() { /bin/true; }
compare_files() {
    local first_name=$1 second_name=$3 target=$5 rounds=$ROUNDS ratio ratio_ok
    first_file=$2
    second_file=$4
    if ! cmp -s <("$quorvel" "$first_file") <("$quorvel" "$second_file"); then
        echo "  note: the two outputs differ; the figures below mean nothing"
        failures=$((failures + 1))
    fi
    measure "$quorvel" "$second_file"
    judge_memory "$rss" 0
    if ((timed_out)); then
        timeout_note
        return
    fi
    ((elapsed < 1000000)) || rounds=3
    interleaved_medians "$rounds" true_run first_run second_run
    ratio=$(quotient "${median_us[second_run]}" "${median_us[first_run]}")
    judge "$ratio" at_most "$target"
    ratio_ok=$verdict
    printf '  median of %d runs: %s %s ms   %s %s ms   /bin/true %s ms\n' "$rounds" \
        "$first_name" "$(milliseconds "${median_us[first_run]}")" \
        "$second_name" "$(milliseconds "${median_us[second_run]}")" "$(milliseconds "${median_us[true_run]}")"
    printf '  %s / %s = %s (<= %s %s)   %s / true = %s   %s / true = %s\n' "$second_name" "$first_name" "$ratio" \
        "$target" "$ratio_ok" "$first_name" "$(quotient "${median_us[first_run]}" "${median_us[true_run]}")" \
        "$second_name" "$(quotient "${median_us[second_run]}" "${median_us[true_run]}")"
    echo "  $second_name: $memory"
}

# A run stopped by RUN_TIMEOUT gets a note and counts as a miss.
timeout_note() {
    ((timed_out)) || return 0
    echo "  note: stopped after $RUN_TIMEOUT s"
    failures=$((failures + 1))
}

# Prints one line for the input in $input: time, speed, peak memory, targets.
# $1 name, $2 largest content the run holds (bytes), $3 speed target (MB/s),
# $4 the expected end of the output.
worst_case() {
    local name=$1 loaded=$2 speed_target=$3 bytes speed speed_ok
    bytes=$(stat -c %s "$input")
    check_output "$4"
    measure_tool
    speed=$(mb_per_s "$bytes" "$elapsed")
    judge "$speed" at_least "$speed_target"
    speed_ok=$verdict
    judge_memory "$rss" "$loaded"
    printf '%-22s %11d bytes %8.3f s %8s MB/s (>= %5s %s) %s\n' \
        "$name" "$bytes" "$(seconds "$elapsed")" "$speed" "$speed_target" "$speed_ok" "$memory"
    timeout_note
}

# The same input kind at two sizes: time, speed and peak memory of each, the
# speed target at the larger size, and the time ratio large / small.
# $1 title, $2 input kind, $3 count n, $4 factor, $5 what is counted,
# $6 largest content the run holds (bytes), $7 speed target at the larger
# size (MB/s), $8 expected end of the output, $9 least output bytes per counted unit.
size_pair() {
    local title=$1 kind=$2 n=$3 factor=$4 unit=$5 loaded=$6 speed_target=$7 end=$8 out_per_unit=${9:-0}
    local count bytes speed target small_time ratio_target size=n
    echo "$title"
    for count in "$n" $((factor * n)); do
        generate "$kind" "$count"
        bytes=$(stat -c %s "$input")
        check_output "$end" $((out_per_unit * count))
        measure_tool
        speed=$(mb_per_s "$bytes" "$elapsed")
        if ((count == n)); then
            small_time=$elapsed
            target=
        else
            judge "$speed" at_least "$speed_target"
            target="(>= $speed_target $verdict)"
        fi
        judge_memory "$rss" "$loaded"
        printf '  %-3s %9d %-14s %11d bytes %8.3f s %8s MB/s %-12s %s\n' "$size" \
            "$count" "$unit" "$bytes" "$(seconds "$elapsed")" "$speed" "$target" "$memory"
        timeout_note
        rm -f "$input"
        size=${factor}n
    done
    ratio_target=$(awk -v s="$RATIO_SLACK" -v f="$factor" 'BEGIN { print s * f }')
    judge "$(quotient "$elapsed" "$small_time")" at_most "$ratio_target"
    printf '  time %sn / n = %s (<= %s %s)\n' "$factor" "$(quotient "$elapsed" "$small_time")" "$ratio_target" "$verdict"
}

echo "quorvel: $quorvel"
echo

# --- Scan: the DocType search walks 256 MiB of unknown headers. -------------
generate scan
bytes=$(stat -c %s "$input")
echo "scan: $bytes bytes (EBML header of unknown size without DocType, then 0x41 bytes)"
check_output $'Unknown EBML File\n'
cat "$input" > /dev/null   # read once, so that the timed runs find it cached
cat_time=$work/cat.times
: > "$cat_time"
time_once "$cat_time" cat "$input"
measure "$quorvel" "$input"
speed=$(mb_per_s "$bytes" "$elapsed")
judge "$speed" at_least "$SPEED_TARGET"
speed_ok=$verdict
judge_memory "$rss" 0
printf '  quorvel %s s = %s MB/s   cat %s s = %s MB/s   target >= %s MB/s: %s\n  %s\n' \
    "$(seconds "$elapsed")" "$speed" "$(seconds "$(< "$cat_time")")" "$(mb_per_s "$bytes" "$(< "$cat_time")")" \
    "$SPEED_TARGET" "$speed_ok" "$memory"
timeout_note
rm -f "$input"
echo

# --- SeekHead: a 1 GiB file costs what the small sample costs. --------------
big=$work/big.webm
cp "$sample" "$big"
truncate -s "$GIB" "$big"   # zero bytes after the Segment, which has a known size
echo "seekhead: $(basename "$sample") ($(stat -c %s "$sample") bytes) and the same grown to 1 GiB"
compare_files small "$sample" big "$big" 1.2
rm -f "$big"
echo

# --- Worst cases: time linear in the size, memory bounded. ------------------
echo "worst cases:"
nested_target=$(awk -v s="$SPEED_TARGET" -v n="$NESTED_LEVELS" 'BEGIN { printf "%.2f", s / (3 * n + 1) }')
generate nested
worst_case "nested unknown sizes" 0 "$nested_target" $'ContentEncAESSettings \n'
generate empty-unknown
worst_case "empty unknown elements" 0 "$SPEED_TARGET" "$VP9_END"
generate seekhead-chain
worst_case "chained SeekHeads" 0 "$SPEED_TARGET" "$VP9_END"
generate text "$GIB"
printf '\0' | dd of="$input" bs=1 seek=1024 conv=notrunc status=none
worst_case "text, zero at 1 KiB" 1024 "$SPEED_TARGET" $'Not an EBML File\n'
rm -f "$input"
truncate -s "$GIB" "$input"
worst_case "zero bytes" 0 "$SPEED_TARGET" $'Not an EBML File\n'
rm -f "$input"
generate unknown-headers
worst_case "unknown headers" 0 "$SPEED_TARGET" $'Unknown EBML File\n'
generate long-doctype
worst_case "DocType of 64 MiB" $((64 * MIB)) "$SPEED_TARGET" $'Unknown EBML File\n'
rm -f "$input"
echo

# --- Two sizes of each input: time in proportion to the size. ---------------
echo "two sizes:"
size_pair "distinct SeekIDs: one SeekHead of distinct IDs, then a Tracks entry" \
    seek-ids 262144 8 "Seek entries" 0 "$SPEED_TARGET" "$VP9_END"
size_pair "SeekHead list: each SeekHead points at the next, the last at Tracks" \
    seekhead-list 262144 8 SeekHeads 0 "$SPEED_TARGET" "$VP9_END"
size_pair "SeekHeads past the end: SeekHead entries beyond the end of the file" \
    seekheads-past-end 262144 8 "Seek entries" 0 "$SPEED_TARGET" "$VP9_END"
size_pair "SeekHeads inside: SeekHead entries at distinct places of the same SeekHead" \
    seekheads-inside 262144 8 "Seek entries" 0 "$SPEED_TARGET" "$VP9_END"
size_pair "SeekHeads into padding: entries into a Void in front of a long SeekHead" \
    seekheads-into-padding 100000 8 "Seek entries" 0 "$SPEED_TARGET" "$VP9_END"
size_pair "tiny elements: a Track Entry of 3-byte Track Numbers, a line each" \
    tiny-elements 1048576 8 elements 0 "$TINY_SPEED_TARGET" $'\t\t\tTrack Number 1\n' 16
size_pair "CRC-32 of 64 MiB inside Tracks" \
    crc-64mib 1 8 "x 64 MiB" $((64 * MIB)) "$SPEED_TARGET" "$VP9_END"
size_pair "SignatureSlot of 64 MiB inside Tracks" \
    signature-64mib 1 8 "x 64 MiB" $((64 * MIB)) "$SPEED_TARGET" "$VP9_END"
size_pair "Codec Private of 64 MiB, printed (3 output bytes per content byte)" \
    codec-private-64mib 1 4 "x 64 MiB" $((64 * MIB)) "$SPEED_TARGET" $':00:AB:CD\n\n' $((3 * 64 * MIB))
size_pair "nested unknown sizes around CRC-32s of 4 MiB" \
    nested-crc 4 8 "x 4 MiB" $((4 * MIB)) "$SPEED_TARGET" $'ContentEncAESSettings \n'
# The whole file is prelude text (a log given by mistake), written as it is
# read: memory stays at the base whatever the size.
size_pair "text without 0x1A or zero byte: all of it is the prelude line" \
    text 200000000 8 bytes 0 "$TEXT_SPEED_TARGET" $'Not an EBML File\n' 1
echo
# --- Half-downloaded: zero bytes after Tracks cost nothing. ------------------
half=$work/half.webm
head -c 429 "$sample" > "$half"   # the sample up to the end of its Tracks
truncate -s "$GIB" "$half"
echo "half-downloaded: the first 429 bytes of $(basename "$sample"), then zero bytes up to 1 GiB"
compare_files complete "$sample" half "$half" 1.2
rm -f "$half"
echo

# --- Zero gap: 1 GiB of zero bytes in front of Tracks, beside cat. ----------
generate zero-gap
bytes=$(stat -c %s "$input")
echo "zero gap: $bytes bytes, a Segment whose first 1 GiB is zero bytes, then Tracks"
check_output "$VP9_END" 0 $'SEEKHEAD not present\nSearching TRACKs manually... TRACKs found.\n'
cat "$input" > /dev/null
: > "$cat_time"
time_once "$cat_time" cat "$input"
measure "$quorvel" "$input"
ratio=$(quotient "$elapsed" "$(< "$cat_time")")
judge "$ratio" at_most 5
ratio_ok=$verdict
judge_memory "$rss" 0
printf '  quorvel %s s   cat %s s   ratio %s (<= 5 %s)\n  %s\n' "$(seconds "$elapsed")" "$(seconds "$(< "$cat_time")")" \
    "$ratio" "$ratio_ok" "$memory"
timeout_note
rm -f "$input"
echo

# --- Output system calls: full buffers, not a write per line. ---------------
# Sets `out_bytes` and `calls`: the output size and the write and writev
# calls of one run on $1, standard output a pipe ($2 = pipe) or a file.
count_writes() {
    local log=$work/strace.log out=$work/out
    if [[ $2 == pipe ]]; then
        strace -f -qq -e trace=write,writev -o "$log" "$quorvel" "$1" | cat > "$out"
    else
        strace -f -qq -e trace=write,writev -o "$log" "$quorvel" "$1" > "$out"
    fi
    out_bytes=$(stat -c %s "$out")
    calls=$(grep -cE '^([0-9]+ +)?writev?\(' "$log" || true)
    rm -f "$log" "$out"
}
echo "output system calls: write + writev calls, target <= output bytes / 4096 + 8"
generate tiny-elements 1048576
for file in "$input" "$typical"; do
    for mode in pipe file; do
        count_writes "$file" "$mode"
        limit=$((out_bytes / 4096 + 8))
        judge "$calls" at_most "$limit"
        name=$(basename "$file")
        if [[ $file == "$input" ]]; then name="tiny elements, n"; fi
        printf '  %-26s to a %-4s %10d bytes %9d calls (<= %d %s)\n' "$name" "$mode" "$out_bytes" "$calls" "$limit" "$verdict"
    done
done
rm -f "$input"
echo

# --- EBML header without DocType: the search ends with the header. ---------
echo "no DocType: an EBML header of known size without DocType, then a Segment of 1 GiB or a small one"
small=$work/small.mkv
generate no-doctype-small
check_output $'Unknown EBML File\n'
mv "$input" "$small"
generate no-doctype-large
check_output $'Unknown EBML File\n'
compare_files small "$small" large "$input" 1.2
rm -f "$input" "$small"
echo

# --- Start-up: a typical run beside programs that do nothing. ---------------
startup_rounds=20
echo "start-up: $(basename "$typical") beside /bin/true and a static no-op, hyperfine -N, $startup_rounds rounds of 10 runs each"
commands=("$(printf '%q %q' "$quorvel" "$typical")" /bin/true)
printf 'int main(void) { return 0; }\n' > "$work/noop.c"
if command -v cc > /dev/null && cc -O2 -static -o "$work/noop" "$work/noop.c" 2> /dev/null; then
    commands+=("$work/noop")
else
    echo "  note: static linking is unavailable here (cc -O2 -static failed): no static no-op figure"
fi
for ((round = 0; round < startup_rounds; ++round)); do
    if ! hyperfine -N --style none --warmup 3 --runs 10 --export-json "$work/startup.$round.json" \
        "${commands[@]}" > /dev/null 2> "$work/hyperfine.log"; then
        cat "$work/hyperfine.log" >&2
        exit 1
    fi
done
read -r -a startup < <(python3 - "$work"/startup.*.json << 'PYTHON'
import json, statistics, sys
times = {}
for path in sys.argv[1:]:
    with open(path) as report:
        for i, result in enumerate(json.load(report)["results"]):
            times.setdefault(i, []).extend(result["times"])
print(" ".join("%.0f" % (statistics.median(times[i]) * 1e6) for i in sorted(times)))
PYTHON
)
ratio=$(quotient "${startup[0]}" "${startup[1]}")
judge "$ratio" at_most 1.3
aim=$(awk -v r="$ratio" 'BEGIN { print (r <= 1.2) ? "met" : "not met" }')
printf '  medians: quorvel %s ms   /bin/true %s ms' "$(milliseconds "${startup[0]}")" "$(milliseconds "${startup[1]}")"
if ((${#startup[@]} > 2)); then
    printf '   static no-op %s ms' "$(milliseconds "${startup[2]}")"
fi
printf '\n  quorvel / true = %s (<= 1.3 %s; aim 1.2 %s)' "$ratio" "$verdict" "$aim"
if ((${#startup[@]} > 2)); then
    printf '   quorvel / static no-op = %s' "$(quotient "${startup[0]}" "${startup[2]}")"
fi
measure "$quorvel" "$typical"
judge_memory "$rss" 0
printf '\n  %s\n\n' "$memory"

# --- Throughput: files per second over the bundled samples. -----------------
paths=$work/paths
for ((i = 0; i < 250; ++i)); do printf '%s\n' "$root"/data/*.mkv "$root"/data/*.webm; done > "$paths"
files=$(wc -l < "$paths")
cores=$(nproc)
echo "throughput: $files paths (the bundled samples over and over), xargs -n 1, output to /dev/null (no target)"
largest=0
for parallel in 1 "$cores"; do
    measure xargs -d '\n' -P "$parallel" -n 1 "$quorvel" < "$paths"
    if ((rss > largest)); then largest=$rss; fi
    printf '  %d process(es) at a time: %s s = %s files/s\n' "$parallel" "$(seconds "$elapsed")" \
        "$(awk -v f="$files" -v t="$elapsed" 'BEGIN { printf "%.0f", f * 1e6 / t }')"
done
judge_memory "$largest" 0
echo "  largest run: $memory"
echo

if ((failures == 0)); then
    echo "all figures meet their targets"
else
    echo "$failures figure(s) miss their target"
    exit 1
fi
