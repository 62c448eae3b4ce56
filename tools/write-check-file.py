#!/usr/bin/env python3
"""Writes the made-up Matroska files that tools/cross-check.sh runs every build on.

    write-check-file.py KIND OUT

KIND is one of:

large-seekhead  Tracks lies more than 4 GiB into the file, found through a
                SeekHead whose Tracks position is past 2^32.
large-walk      The same without SeekHead: a walk over the Segment has to step
                over a Void whose 8-byte size is past 2^32.
terminal-text   A Track Entry whose Name holds ESC and BEL, for the check that
                text shown on a terminal (a console on Windows) is escaped.

The large files are sparse: the gap is the payload of one Void element, left a
hole, so they cost a few kilobytes of disk whatever their length (the script
removes them afterwards all the same). Either large number cut to its low 32
bits leads to the same place inside the Void, where a decoy Tracks waits: a
reader that loses the high bits lists the decoy (Codec Id A_DECOY) instead of
scanning on through the hole. The real Track Entry holds values that need 64
bits: Track Uid and Default Duration."""

import argparse
import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ebml import element, header, master, uint  # noqa: E402

# Past 2^32, wherever it is counted from.
GAP = (1 << 32) + 0x10000
TRACK_UID = 0xFEDCBA9876543210
DEFAULT_DURATION = 5_000_000_123

EBML, DOC_TYPE, EBML_VERSION = 0x1A45DFA3, 0x4282, 0x4286
SEGMENT, SEEK_HEAD, SEEK, SEEK_ID, SEEK_POSITION = 0x18538067, 0x114D9B74, 0x4DBB, 0x53AB, 0x53AC
VOID, TRACKS, TRACK_ENTRY = 0xEC, 0x1654AE6B, 0xAE
TRACK_NUMBER, TRACK_UID_ID, TRACK_TYPE, CODEC_ID, NAME = 0xD7, 0x73C5, 0x83, 0x86, 0x536E
DEFAULT_DURATION_ID, AUDIO, SAMPLING_FREQUENCY, CHANNELS = 0x23E383, 0xE1, 0xB5, 0x9F

EBML_HEADER = master(EBML, element(EBML_VERSION, uint(1)), element(DOC_TYPE, b"matroska"))


def large_tracks():
    return master(TRACKS, master(
        TRACK_ENTRY,
        element(TRACK_NUMBER, uint(1)),
        element(TRACK_UID_ID, uint(TRACK_UID)),
        element(TRACK_TYPE, uint(2)),
        element(CODEC_ID, b"A_OPUS"),
        element(NAME, "past 4 GiB, ü".encode()),
        element(DEFAULT_DURATION_ID, uint(DEFAULT_DURATION)),
        master(AUDIO, element(SAMPLING_FREQUENCY, struct.pack(">d", 48000.0)), element(CHANNELS, uint(2))),
    ))


def decoy_tracks():
    return master(TRACKS, master(TRACK_ENTRY, element(TRACK_NUMBER, uint(9)), element(CODEC_ID, b"A_DECOY")))


def write_large(path, with_seekhead):
    void_header = header(VOID, GAP, 8)
    if with_seekhead:
        # An 8-byte SeekPosition, so that the SeekHead's length does not depend
        # on the position it holds; the position counts from the Segment's payload.
        def seek_head(position):
            return master(SEEK_HEAD, master(SEEK, element(SEEK_ID, uint(TRACKS)),
                                            element(SEEK_POSITION, uint(position, 8))))
        head = seek_head(len(seek_head(0)) + len(void_header) + GAP)
    else:
        head = b""
    body = large_tracks()
    with open(path, "wb") as out:
        out.write(EBML_HEADER)
        out.write(header(SEGMENT, len(head) + len(void_header) + GAP + len(body), 8))
        out.write(head + void_header)
        void_payload = out.tell()
        # The SeekPosition points GAP bytes past the Void's payload start, and so
        # does the Void's size for a walk: cut to 32 bits, both lose 2^32.
        out.seek(void_payload + GAP - (1 << 32))
        out.write(decoy_tracks())
        # Everything else in the Void's payload stays a hole.
        out.seek(void_payload + GAP)
        out.write(body)


def write_terminal_text(path):
    # Found by the walk, as there is no SeekHead: the listing says so first.
    segment = master(SEGMENT, master(TRACKS, master(
        TRACK_ENTRY,
        element(TRACK_NUMBER, uint(1)),
        element(NAME, b"A\x1b[31mRED\x07B"),
        element(CODEC_ID, b"A_OPUS"),
    )))
    with open(path, "wb") as out:
        out.write(EBML_HEADER + segment)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("kind", choices=["large-seekhead", "large-walk", "terminal-text"])
    parser.add_argument("out")
    args = parser.parse_args()
    if args.kind == "terminal-text":
        write_terminal_text(args.out)
    else:
        write_large(args.out, args.kind == "large-seekhead")


if __name__ == "__main__":
    main()
