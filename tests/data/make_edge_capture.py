#!/usr/bin/env python3
"""Writes the sample captures edge.DT, mdcl_edge.DT and monc_edge.DT: between
them a record of every shape the list view and the converter lay out
differently, and the banner texts of damaged and out-of-range bit timings.
The expected outputs beside them were checked line by line against the
layout rules."""
from dt_records import can, custom_timing, lin, lin1, record, settings, ts, write

# CH1 CAN at the 500k preset; CH2 LIN at 19200 bit/s with a length table.
write("edge.DT", b"MDCL", settings((40, "B", 7), (705, "B", 2), (400, "IB", 192000, 1),
                                   *[(424 + 4 * i, "I", i % 9) for i in range(64)]), [
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
])

# CH1 CAN with custom timing (4 MHz / 8) and a LIN length table (flag at 116,
# frame 0 at 136: 0x14, of which the low 4 bits count); CH2 LIN without one. LIN records on
# both channels, counts beyond the record, damaged sources and times.
write("mdcl_edge.DT", b"MDCL", settings(custom_timing(0, 40000000, 1, 4, 2, 2), (705, "B", 2),
                                        (400, "I", 192000), (116, "B", 1), (136, "I", 0x14)), [
    lin(2, 0x80, 0, 3, b"\x01\x02\xCC", sf=0xA1, time=ts(1, 0, 0, 0)),  # no table on CH2
    lin1(0, 0, time=ts(1, 0, 1, 5)),                                    # no data, no checksum
    lin1(0, 9, bytes(range(1, 9)) + b"\xEE", time=ts(1, 0, 2, 0), flags=0x10),  # 8 + checksum
    lin(2, 0x80, 0, -1, b"", sf=0xA1, time=ts(1, 0, 3, 0)),             # header only, no table
    lin1(0, -2, time=ts(1, 0, 4, 0)),                                   # SB, SF
    lin1(0, -2, status=0x0001, time=ts(1, 0, 5, 0)),                    # SB, SF in error
    lin1(0, -5, time=ts(1, 0, 6, 0)),                                   # damaged count
    lin1(2, -1, time=ts(1, 0, 7, 0)),                                   # header only, no header
    lin1(0, 3, b"\x01\x02\xCC", status=0x001B, time=ts(1, 0, 8, 0)),    # SF, ID, D1, C in error
    lin1(0, 3, b"\x01\x02\xCC", time=ts(1, 0, 9, 0), flags=0x80),       # trigger
    lin1(1, 0, time=ts(1, 0, 10, 0)),                                   # kind 1, no data
    record(1, time=ts(1, 0, 11, 0), count=12, kind=12, identifier=0x123 << 18,
           data=bytes(range(1, 10))),                                   # CAN count 12, DLC 12
    lin1(0, 127, bytes(range(1, 10)), time=ts(1, 0, 12, 0)),            # LIN count 127
    lin1(1, 127, bytes(range(1, 10)), status=0xFFFF, time=ts(1, 0, 13, 0)),
    can(1, 0x10, False, b"", ts(1, 0, 14, 0), status=0x0080),           # no trigger on MDCL
    record(0x40, 0x90, time=ts(1, 0, 15, 0)),                           # overrun with line flags
    *[record(s, time=ts(1, 0, 16, 0)) for s in (5, 0, 200, 210)],       # damaged sources
    record(255, time=0xFFFFFFFF), record(1, time=0),                    # damaged times
    lin1(0, 1, b"\xC5", time=ts(0, 0, 0, 5)),                           # the checksum alone
])

# "MONC": the LIN protocol byte and a rate above 1 Mbit/s (80 MHz / 8) on CH1,
# a timing whose divisor is 0 on CH2.
write("monc_edge.DT", b"MONC", settings(custom_timing(0, 800000000, 1, 4, 2, 1), (704, "B", 2),
                                        custom_timing(1, 40000000, -1, 0, 0, 0)), [
    can(1, 0x7FF, False, b"", ts(59, 59, 99, 49), remote=True, dlc=8),
    can(2, 0x1FFFFFFF, True, b"", ts(0, 0, 5, 10), dlc=15),
    can(2, 0x123, True, b"", ts(0, 0, 35, 0), remote=True, dlc=8),
    can(1, 0x7FF, False, b"\xAB", ts(0, 1, 0, 0), dlc=9),
    record(0x41, time=ts(0, 1, 0, 5)),
    lin(1, 0x80, 0, 3, b"\x01\x02\xCC", sf=0xA1, time=ts(0, 1, 1, 0)),  # read as CAN
    can(1, 0x10, False, b"", ts(0, 1, 2, 0), status=0x0080),            # trigger
    can(2, 0x10, False, b"", ts(0, 1, 3, 0), flags=0x90),               # neither trigger nor input
])

# LIN frames whose checksum tells its model (enhanced, enhanced with a carry,
# classic of a diagnostic frame) at 19200 bit/s on CH1; CAN at 500k on CH2.
write("lin_sums.DT", b"MDCL", settings((704, "B", 2), (112, "I", 192000), (72, "B", 7)), [
    lin(1, 0x50, 0, 3, b"\x01\x02\xAC", time=ts(0, 0, 0, 0)),
    lin(1, 0x50, 0, 3, b"\xFF\xFF\xAF", time=ts(0, 0, 1, 0)),
    lin(1, 0x3C, 0, 3, b"\x10\x20\xCF", time=ts(0, 0, 2, 0)),
    can(2, 0x100, False, b"\x01", ts(0, 0, 3, 0)),
])
