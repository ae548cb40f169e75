#!/usr/bin/env python3
"""Writes edge.DT: one "MDCL" capture holding a record of every shape the
list view and the converter lay out differently. The expected outputs beside
it (edge.*) were checked line by line against the layout rules."""
import struct

def ts(minutes, seconds, hundredths, fifths):
    return minutes << 24 | seconds << 16 | hundredths << 8 | fifths

def record(source, line_flags=0, status=0, time=0, count=0, kind=0, identifier=0, data=b""):
    body = struct.pack("<BBHI2xbBI", source, line_flags, status, time, count, kind, identifier)
    return body + data.ljust(9, b"\0") + bytes(7)

def can(channel, ident, extended, data, time, remote=False, dlc=None, flags=0):
    dlc = len(data) if dlc is None else dlc
    kind = (0x80 if extended else 0) | (0x40 if remote else 0) | dlc
    word = ident if extended else ident << 18
    return record(channel, flags, 0, time, 0 if remote else len(data), kind, word, data)

def lin(channel, pid, kind, count, data, status=0, time=0, sb=0x55, sf=0x00, flags=0):
    word = sb << 24 | sf << 16 | pid << 8
    return record(channel + 2, flags, status, time, count, kind, word, data)

records = [
    can(1, 0x123, False, bytes(range(0x11, 0x19)), ts(5, 12, 34, 25)),
    can(1, 0x123, True, b"", ts(5, 12, 35, 0), remote=True, dlc=8),
    lin(2, 0x80, 0, 3, b"\x01\x02\x03", status=0x0010, time=ts(5, 12, 36, 5)),   # checksum error
    lin(2, 0xC1, 0, -1, b"", time=ts(5, 12, 40, 0)),                             # header only
    lin(2, 0xC1, 1, -1, b"", time=ts(5, 12, 41, 0)),                             # header only, kind 1
    lin(2, 0x00, 0, -3, b"", time=ts(5, 12, 42, 0)),                             # SB only
    lin(2, 0x00, 0, -2, b"", status=0x0001, sf=0x7E, time=ts(5, 12, 43, 0)),     # SB, SF in error
    lin(2, 0x00, 2, 2, b"\xAA\xBB", time=ts(5, 12, 44, 0)),                      # no header
    lin(2, 0x97, 0, 2, b"\x44\x45", status=0x0802, time=ts(5, 12, 45, 0)),       # parity error, code 1
    record(0x40, time=ts(5, 12, 46, 0)),                                         # overrun
    record(0x41, time=ts(5, 12, 47, 0)),                                         # lost data
    can(2, 0x7FF, False, b"\x00", ts(5, 12, 48, 0), flags=0x90),                 # trigger, input 1
    lin(2, 0x3C, 1, 2, b"\x10\x20\x30", status=0xF800, time=ts(59, 59, 99, 49)), # code 31, kind 1
    can(1, 0x1FFFFFFF, True, bytes(8), ts(0, 0, 0, 0)),                          # across the hour
]

settings = bytearray(788)
def put(offset, value):
    struct.pack_into("<I", settings, offset, value)
for offset, size in [(0, 788), (4, 712), (12, 8), (20, 4), (24, 660), (28, 72), (36, 32),
                     (68, 32), (100, 584), (108, 288), (396, 288), (684, 8), (688, 4),
                     (692, 4), (696, 20), (700, 16), (716, 72), (732, 12), (748, 12),
                     (764, 8), (776, 8), (784, 4)]:
    put(offset, size)
settings[10] = 32      # protocol block present
settings[17] = 9       # board code
settings[35] = 2       # CAN entries
settings[107] = 2      # LIN entries
settings[36 + 4] = 7   # CH1: 500k preset
settings[705] = 2      # CH2: LIN
put(396 + 4, 192000)   # CH2 LIN 19200 bit/s
settings[396 + 8] = 1  # CH2 length table
for frame_id in range(64):
    put(396 + 28 + 4 * frame_id, frame_id % 9)

def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body

with open("edge.DT", "wb") as f:
    f.write(b"KESTRIN DATA   \0")
    f.write(chunk(b"DINF", bytes(settings)))
    f.write(chunk(b"MDCL", b"".join(records)))
