"""Every benchmark, as a record: its name, what it measures, its input and
sizes, the command it times, and the thresholds that make each figure PASS
or FAIL. The thresholds live here and nowhere else."""

import os
from dataclasses import dataclass, field
from typing import Callable

import procedures
import streams
from inputs import GIB, MIB, grown

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
SAMPLE = "data/ffmpeg_vp9_opus.webm"
TYPICAL = "data/mkvmerge_h264_aac_srt.mkv"

TIMEOUT = 60          # seconds; a run still going then is stopped, which fails it
# Peak resident memory: this base, plus this factor times the largest element
# content the run loads, on every row.
MEMORY = {"rss_base_mib": 32, "rss_per_loaded": 1.25}
SPEED = 50            # MB/s (10^6 bytes) over the file size
TINY_SPEED = 15       # MB/s of input when every 3 input bytes print a line
TEXT_SPEED = 200      # MB/s of input when all of it is prelude text
RATIO_SLACK = 1.5     # a k times larger input may take up to 1.5 k times as long
NESTED_LEVELS = 7     # unknown-size masters nested from level 0 to level 6
ROUNDS = 50           # rounds of interleaved runs for the medians of short runs
VP9_END = "\t\t\tCodec Id V_VP9\n"   # last line of the Tracks listing of most inputs


@dataclass
class Record:
    name: str
    group: str                  # the table's section
    title: str                  # its label in the table
    measures: str               # what it measures, for --list and the JSON report
    procedure: Callable         # how it runs: procedures.py, streams.py
    input_kind: object = None   # generator name (inputs.KINDS), generator, or a data/ path
    sizes: tuple = ()           # counts given to the generator
    command: str = "quorvel INPUT"
    targets: dict = field(default_factory=dict)
    expect: dict = field(default_factory=dict)   # end, start, out_per_unit of the output
    loaded: int = 0             # largest element content the run loads (bytes)
    unit: str = ""              # what `sizes` counts
    inputs: tuple = ()          # for side-by-side records: (label, input kind) pairs


def targets(**values):
    return dict(MEMORY, **values)


def worst(name, title, kind, end, speed=SPEED, loaded=0):
    return Record(name, "worst cases", title, "time, speed over the file size, peak memory",
                  procedures.worst_case, kind, targets=targets(speed=speed), expect={"end": end},
                  loaded=loaded)


def pair(name, title, kind, n, factor, unit, end, speed=SPEED, loaded=0, out_per_unit=0):
    return Record(name, "two sizes", title, "time, speed and peak memory at two sizes; time ratio",
                  procedures.size_pair, kind, (n, factor * n), targets=targets(speed=speed, ratio_slack=RATIO_SLACK),
                  expect={"end": end, "out_per_unit": out_per_unit}, loaded=loaded, unit=unit)


def side_by_side(name, title, first, second, ratio, expect=None):
    return Record(name, "", title, "median times of interleaved runs, second / first; peak memory",
                  procedures.compare_files, command="quorvel FIRST; quorvel SECOND",
                  targets=targets(ratio=ratio, rounds=ROUNDS), expect=expect or {}, inputs=(first, second))


SAMPLE_SIZE = os.path.getsize(os.path.join(DATA, os.path.basename(SAMPLE)))
UNKNOWN_EBML = "Unknown EBML File\n"
NOT_EBML = "Not an EBML File\n"

RECORDS = [
    Record("scan", "", "EBML header of unknown size without DocType, then 0x41 bytes",
           "speed of the DocType search over 256 MiB of unknown headers, beside cat",
           procedures.beside_cat, "scan", targets=targets(speed=SPEED), expect={"end": UNKNOWN_EBML}),
    side_by_side("seekhead", "%s (%d bytes) and the same grown to 1 GiB" % (os.path.basename(SAMPLE), SAMPLE_SIZE),
                 ("small", SAMPLE), ("big", grown(os.path.join(DATA, os.path.basename(SAMPLE)), None, GIB)), 1.2),
    worst("nested", "nested unknown sizes", "nested", "ContentEncAESSettings \n",
          speed=round(SPEED / (3 * NESTED_LEVELS + 1), 2)),
    worst("empty-unknown", "empty unknown elements", "empty-unknown", VP9_END),
    worst("seekhead-chain", "chained SeekHeads", "seekhead-chain", VP9_END),
    worst("text-zero-1k", "text, zero at 1 KiB", "text-zero-at-1k", NOT_EBML, loaded=1024),
    worst("zero-bytes", "zero bytes", "zero-bytes", NOT_EBML),
    worst("unknown-headers", "unknown headers", "unknown-headers", UNKNOWN_EBML),
    worst("long-doctype", "DocType of 64 MiB", "long-doctype", UNKNOWN_EBML, loaded=64 * MIB),
    pair("seek-ids", "one SeekHead of distinct IDs, then a Tracks entry",
         "seek-ids", 262144, 8, "Seek entries", VP9_END),
    pair("seekhead-list", "each SeekHead points at the next, the last at Tracks",
         "seekhead-list", 262144, 8, "SeekHeads", VP9_END),
    pair("seekheads-past-end", "SeekHead entries beyond the end of the file",
         "seekheads-past-end", 262144, 8, "Seek entries", VP9_END),
    pair("seekheads-inside", "SeekHead entries at distinct places of the same SeekHead",
         "seekheads-inside", 262144, 8, "Seek entries", VP9_END),
    pair("seekheads-into-padding", "entries into a Void in front of a long SeekHead",
         "seekheads-into-padding", 100000, 8, "Seek entries", VP9_END),
    pair("tiny-elements", "a Track Entry of 3-byte Track Numbers, a line each",
         "tiny-elements", 1048576, 8, "elements", "\t\t\tTrack Number 1\n", speed=TINY_SPEED, out_per_unit=16),
    pair("crc-64mib", "CRC-32 of 64 MiB inside Tracks",
         "crc-64mib", 1, 8, "x 64 MiB", VP9_END, loaded=64 * MIB),
    pair("signature-64mib", "SignatureSlot of 64 MiB inside Tracks",
         "signature-64mib", 1, 8, "x 64 MiB", VP9_END, loaded=64 * MIB),
    pair("codec-private", "Codec Private of 64 MiB, printed (3 output bytes per content byte)",
         "codec-private-64mib", 1, 4, "x 64 MiB", ":00:AB:CD\n\n", loaded=64 * MIB, out_per_unit=3 * 64 * MIB),
    pair("nested-crc", "nested unknown sizes around CRC-32s of 4 MiB",
         "nested-crc", 4, 8, "x 4 MiB", "ContentEncAESSettings \n", loaded=4 * MIB),
    # The whole file is prelude text (a log given by mistake), written as it
    # is read: memory stays at the base whatever the size.
    pair("text", "text without 0x1A or zero byte: all of it is the prelude line",
         "text", 200_000_000, 8, "bytes", NOT_EBML, speed=TEXT_SPEED, out_per_unit=1),
    side_by_side("half-downloaded", "the first 429 bytes of %s, then zero bytes up to 1 GiB" % os.path.basename(SAMPLE),
                 ("complete", SAMPLE), ("half", grown(os.path.join(DATA, os.path.basename(SAMPLE)), 429, GIB)), 1.2),
    Record("zero-gap", "", "a Segment whose first 1 GiB is zero bytes, then Tracks",
           "time beside cat on the same cached file; peak memory", procedures.beside_cat, "zero-gap",
           targets=targets(ratio_to_cat=5),
           expect={"end": VP9_END, "start": "SEEKHEAD not present\nSearching TRACKs manually... TRACKs found.\n"}),
    Record("output-syscalls", "", "write + writev calls",
           "write and writev calls against the output size, to a pipe and to a file",
           procedures.output_system_calls, "tiny-elements", (1048576,), command="strace quorvel INPUT",
           targets={"bytes_per_call": 4096, "extra_calls": 8}),
    side_by_side("no-doctype", "an EBML header of known size without DocType, then a Segment of 1 GiB or a small one",
                 ("small", "no-doctype-small"), ("large", "no-doctype-large"), 1.2, expect={"end": UNKNOWN_EBML}),
    Record("startup", "", "a typical run beside /bin/true", "start-up: median time against /bin/true",
           procedures.startup, TYPICAL, command="hyperfine -N 'quorvel %s' /bin/true" % TYPICAL,
           targets=targets(ratio_to_true=1.3, aim=1.2, rounds=20)),
    Record("throughput", "", "the bundled samples over and over",
           "files per second, one process at a time and one per core; largest peak memory",
           procedures.throughput, "data/*.mkv data/*.webm", (3000,), command="xargs -n 1 quorvel < PATHS",
           targets=targets()),
    Record("counts", "", "the small sample beside a static C no-op",
           "page faults above `cc -O2 -static` of an empty main, system calls, reads of the input",
           streams.counts, SAMPLE, command="quorvel %s" % SAMPLE,
           # A run read its input once in 22 calls and 25 faults above the no-op; confining it costs
           # up to 6 calls more, and linking it as static-pie up to 15 faults more (its relocations
           # touch a varying number of pages, as the code lands at a random address).
           targets={"faults_above_noop": 40, "system_calls": 28, "input_reads": 2}),
    Record("stream-zero-gap", "streams", "a Segment whose first 1 GiB is zero bytes, then Tracks",
           "time beside cat through a pipe; peak memory", streams.stream_beside_cat, "zero-gap",
           command="cat INPUT | quorvel -", targets=targets(ratio_to_cat=2, rounds=3),
           expect={"end": VP9_END, "start": "SEEKHEAD not present\nSearching TRACKs manually... TRACKs found.\n"}),
    Record("stream-text", "streams", "text without 0x1A or zero byte",
           "peak memory of 1.6 GB of prelude text through a pipe; time beside cat",
           streams.stream_beside_cat, "text", (1_600_000_000,), command="cat INPUT | quorvel -",
           targets=targets(rounds=3), expect={"end": NOT_EBML, "out_per_unit": 1}),
    Record("stream-codec-private", "streams", "a printed Codec Private of 64 MiB",
           "peak memory through a pipe", streams.stream_beside_cat, "codec-private-64mib", (1,),
           command="cat INPUT | quorvel -", targets=targets(rounds=1), loaded=64 * MIB,
           expect={"end": ":00:AB:CD\n\n", "out_per_unit": 3 * 64 * MIB}),
    Record("stream-early-close", "streams", "the listing ends the run",
           "bytes the writer of a 1 GiB recording got into the pipe before it was closed",
           streams.early_close, TYPICAL, (GIB,), command="WRITER | quorvel -",
           targets={"written": 4 * MIB}),
    Record("stream-live", "streams", "a live stream gone quiet",
           "seconds from the last byte to the listing and the exit", streams.live, TYPICAL,
           command="WRITER | quorvel -", targets={"seconds": 1, "grace": 4}),
]
