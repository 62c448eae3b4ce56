"""Writes EBML for the tooling: the bench's generated inputs and the cross
check's made-up files (the tests have their own writer in C++).

An element ID is given as an integer (0x1A45DFA3), as its bytes, or as hex
text ("1A45DFA3"); it keeps its length-marker bits either way. A size field
takes the fewest bytes that hold its value unless a width (1 to 8) is given.

Large files are written as parts: byte strings, and integers that stand for
that many zero bytes, left as a hole in the file so that a gigabyte of zero
bytes costs no disk.
"""

MIB = 1 << 20
GIB = 1 << 30

# The 8-byte size field that says "size not known".
UNKNOWN_SIZE = b"\x01" + b"\xff" * 7


def uint(value, width=0):
    """Big-endian `value` in `width` bytes, in the fewest that hold it when 0."""
    if width == 0:
        width = max(1, (value.bit_length() + 7) // 8)
    return value.to_bytes(width, "big")


def element_id(value):
    """The bytes of an element ID given as an integer, bytes or hex text."""
    if isinstance(value, int):
        return uint(value)
    if isinstance(value, str):
        return bytes.fromhex(value)
    return bytes(value)


def size(value, width=0):
    """A size field of `width` bytes (the fewest when 0), length marker
    included. The value with every bit set means "not known", so a known
    size that would read as it takes one more byte."""
    if width == 0:
        width = 1
        while width < 8 and value >= (1 << (7 * width)) - 1:
            width += 1
    if value >= (1 << (7 * width)):
        raise ValueError("%d does not fit a %d-byte size field" % (value, width))
    return ((1 << (7 * width)) | value).to_bytes(width, "big")


def header(id_, length, width=0):
    """An element's ID and size field, for `length` bytes of content."""
    return element_id(id_) + size(length, width)


def unknown_header(id_):
    """An element's ID and the 8-byte "size not known" field."""
    return element_id(id_) + UNKNOWN_SIZE


def element(id_, payload=b"", width=0):
    return header(id_, len(payload), width) + payload


def master(id_, *children, width=0):
    return element(id_, b"".join(children), width)


def parts_length(parts):
    """The length of parts: byte strings, and integers for zero bytes."""
    return sum(part if isinstance(part, int) else len(part) for part in parts)


def write_parts(out, parts):
    """Writes parts at the position of `out`, a file open for writing; an
    integer part is that many zero bytes, left as a hole. The file ends
    where the parts end."""
    for part in parts:
        if isinstance(part, int):
            out.seek(part, 1)
        else:
            out.write(part)
    out.truncate()


def repeat(out, unit, total):
    """Writes `unit` over and over, `total` bytes in all (the last copy cut)."""
    block = unit * max(1, MIB // len(unit))
    while total >= len(block):
        out.write(block)
        total -= len(block)
    out.write((unit * (total // len(unit) + 1))[:total])
