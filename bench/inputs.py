"""The bench's input generators: `KINDS[kind](out, count)` writes one input
into `out`, a file open for writing. Every master below has the 8-byte "size
not known" field unless its size is given; runs of zero bytes are left as
holes, so that large inputs take little disk."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from ebml import (GIB, MIB, element, header, parts_length,  # noqa: E402
                  repeat, size, unknown_header, write_parts)

SEGMENT = bytes.fromhex("18538067")
SEEKHEAD = bytes.fromhex("114D9B74")
TRACKS = bytes.fromhex("1654AE6B")
# Segment > Tracks > Track Entry > ContentEncodings > ContentEncoding
# > ContentEncryption > ContentEncAESSettings: levels 0 to 6.
NESTED_IDS = ("18538067", "1654AE6B", "AE", "6D80", "6240", "5035", "47E7")


def ebml_header(doc_type=None):
    children = element("4286", b"\x01")
    if doc_type is not None:
        children += element("4282", doc_type)
    return element("1A45DFA3", children)


def track_entry():
    return element("AE", element("D7", b"\x01") + element("86", b"V_VP9"))


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
    return unknown_header("1A45DFA3") + element("4286", b"\x01")


def scan(out, count):
    # Every 0x41 starts an unknown two-byte ID with a valid size.
    out.write(open_ebml_header())
    repeat(out, b"A", 256 * MIB)


def nested(out, count):
    out.write(ebml_header(b"matroska") + b"".join(unknown_header(i) for i in NESTED_IDS))
    repeat(out, b"A", 64 * MIB)


def empty_unknown(out, count):
    # Four million empty elements whose 4-byte ID no table holds, then Tracks.
    count = 4_000_000
    tracks = element(TRACKS, track_entry())
    out.write(ebml_header(b"matroska") + header(SEGMENT, 5 * count + len(tracks), 8))
    repeat(out, bytes.fromhex("10202020") + size(0), 5 * count)
    out.write(tracks)


def chained_seekheads(out, count):
    webm_segment(out, seekhead_chain(100_000) + element(TRACKS, track_entry()))


def text(out, count):
    # `count` bytes of lines of text: no 0x1A byte and no zero byte.
    repeat(out, b"Lorem ipsum dolor sit amet, consectetur adipiscing elit.\n", count)


def text_zero_at_1k(out, count):
    # 1 GiB of text with a zero byte at 1 KiB: the prelude text is 1 KiB.
    text(out, GIB)
    out.seek(1024)
    out.write(b"\0")


def zero_bytes(out, count):
    write_parts(out, [GIB])


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
    indexed_tracks(out, [header("AE", 3 * count, 8) + bytes.fromhex("D78101") * count])


def large_global(global_id):
    def generate(out, count):
        # `count` elements of 64 MiB that are read and dropped, then a Track Entry.
        indexed_tracks(out, [header(global_id, 64 * MIB, 8), 64 * MIB] * count + [track_entry()])
    return generate


def codec_private(out, count):
    # `count` Track Entries, each with a Codec Private of 64 MiB that ends in AB CD.
    entry_parts = [element("D7", b"\x01"), header("63A2", 64 * MIB, 8), 64 * MIB - 2, b"\xab\xcd"]
    indexed_tracks(out, ([header("AE", parts_length(entry_parts), 8)] + entry_parts) * count)


def nested_crcs(out, count):
    # The seven unknown-size masters of `nested`, then `count` CRC-32 of 4 MiB.
    out.write(ebml_header(b"matroska") + b"".join(unknown_header(i) for i in NESTED_IDS))
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


def no_doctype_small(out, count):
    out.write(ebml_header() + element(SEGMENT, element(TRACKS, track_entry()), 8))


def long_doctype(out, count):
    # A DocType of 64 MiB (the most the tool loads), without a zero byte.
    out.write(ebml_header(b"a" * (64 * MIB)))


def grown(path, keep=None, total=None):
    """The first `keep` bytes (all when None) of the file at `path`, then zero
    bytes (a hole) up to `total` bytes in all."""
    def generate(out, count):
        with open(path, "rb") as source:
            out.write(source.read() if keep is None else source.read(keep))
        write_parts(out, [max(0, (total or 0) - out.tell())])
    generate.description = "%s of %s, then zero bytes up to %s bytes" % (
        "all" if keep is None else "the first %d bytes" % keep, os.path.basename(path), total)
    return generate


KINDS = {
    "scan": scan,
    "nested": nested,
    "empty-unknown": empty_unknown,
    "seekhead-chain": chained_seekheads,
    "text": text,
    "text-zero-at-1k": text_zero_at_1k,
    "zero-bytes": zero_bytes,
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


def generate(kind, path, count=0):
    """Writes the input `kind` (a name of KINDS, or a generator) to `path`."""
    write = KINDS[kind] if isinstance(kind, str) else kind
    with open(path, "wb") as out:
        write(out, count)
