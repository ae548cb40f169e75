"""Builders of DT capture records, settings images and files for the sample
capture scripts."""
import struct

def ts(minutes, seconds, hundredths, fifths):
    return minutes << 24 | seconds << 16 | hundredths << 8 | fifths

def record(source, line_flags=0, status=0, time=0, count=0, kind=0, identifier=0, data=b""):
    body = struct.pack("<BBHI2xbBI", source, line_flags, status, time, count, kind, identifier)
    return body + data.ljust(9, b"\0") + bytes(7)

def can(channel, ident, extended, data, time, remote=False, dlc=None, flags=0, status=0):
    dlc = len(data) if dlc is None else dlc
    kind = (0x80 if extended else 0) | (0x40 if remote else 0) | dlc
    word = ident if extended else ident << 18
    return record(channel, flags, status, time, 0 if remote else len(data), kind, word, data)

def lin(channel, pid, kind, count, data, status=0, time=0, sb=0x55, sf=0x00, flags=0):
    word = sb << 24 | sf << 16 | pid << 8
    return record(channel + 2, flags, status, time, count, kind, word, data)

def lin1(kind, count, data=b"", status=0, time=0, flags=0):  # frame 0 on CH1, SF 0xA1
    return lin(1, 0x80, kind, count, data, status, time, sf=0xA1, flags=flags)

def settings(*fields):
    """The known-size settings image; fields are (offset, struct format, values...)."""
    image = bytearray(788)
    for offset, size in [(0, 788), (4, 712), (12, 8), (20, 4), (24, 660), (28, 72), (36, 32),
                         (68, 32), (100, 584), (108, 288), (396, 288), (684, 8), (688, 4),
                         (692, 4), (696, 20), (700, 16), (716, 72), (732, 12), (748, 12),
                         (764, 8), (776, 8), (784, 4)]:
        struct.pack_into("<I", image, offset, size)
    image[10], image[17], image[35], image[107] = 32, 9, 2, 2  # layout, board, entries
    for offset, fmt, *values in fields:
        struct.pack_into("<" + fmt, image, offset, *values)
    return bytes(image)

def custom_timing(channel, base, pts, pbs1, pbs2, sjw):  # CAN preset 0
    return (40 + 32 * channel, "B3xIbbbb", 0, base, pts, pbs1, pbs2, sjw)

def write(name, tag, dinf, records):
    chunks = [(b"DINF", dinf), (tag, b"".join(records))]
    with open(name, "wb") as f:
        f.write(b"KESTRIN DATA   \0")
        f.write(b"".join(t + struct.pack("<I", len(body)) + body for t, body in chunks))
