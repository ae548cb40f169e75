#!/usr/bin/env python3
"""Writes vehicle.DT, the sample capture of vehicle.dbc: ten seconds of a car
pulling away (engine, gearbox and doors on CH1; climate, an extended
identifier with an IEEE float, and multiplexed diagnostics on CH2), with a
remote frame, a frame the database lacks and an EngineData frame cut to two
bytes. Signals are packed bit by bit here, apart from the decoder under test."""
import math
import struct

from dt_records import can, settings, ts, write


def stamp(seconds):
    fifths = round(seconds * 5000)  # 0.2 ms
    minutes, fifths = 12 + fifths // 300000, fifths % 300000
    return ts(minutes, fifths // 5000, fifths // 50 % 100, fifths % 50)


def pack(size, *signals):
    """signals: (start, length, motorola, raw); DBC bit numbering."""
    bits = [0] * (8 * size)
    for start, length, motorola, raw in signals:
        raw &= (1 << length) - 1
        pos = start
        for j in range(length):
            value_bit = (raw >> (length - 1 - j)) & 1 if motorola else (raw >> j) & 1
            bits[pos] = value_bit
            if motorola:
                pos = pos + 15 if pos % 8 == 0 else pos - 1
            else:
                pos += 1
    return bytes(sum(bits[8 * i + k] << k for k in range(8)) for i in range(size))


def raw(value, factor, offset=0):
    return round((value - offset) / factor)


RATIOS = [0, 110, 65, 45, 34, 28, 23]  # rpm per km/h in gears 1 to 6
LIMITS = [15, 30, 50, 70, 90]


def gear_of(speed):
    return 1 + sum(speed >= limit for limit in LIMITS)


def speed_at(t):
    return 0 if t < 1 else min(100, 11 * (t - 1) ** 1.05)


records = []
for i in range(500):  # EngineData, CH1, every 20 ms
    t = 0.02 * i + 0.0004
    speed = speed_at(t)
    rpm = 800 if speed == 0 else max(900, speed * RATIOS[gear_of(speed)])
    torque = 0 if speed == 0 else 180 - 40 * math.sin(t)
    data = pack(8, (0, 16, False, raw(rpm, 0.25)), (16, 8, False, raw(70 + 2 * t, 1, -40)),
                (24, 8, False, raw(35 if speed else 0, 0.4)), (39, 12, True, raw(torque, 0.5)))
    records.append((t, can(1, 0x100, False, data if i != 300 else data[:2], 0)))
previous_gear = 0
for i in range(200):  # Transmission, CH1, every 50 ms
    t = 0.05 * i + 0.0102
    speed = speed_at(t)
    gear = 0 if speed == 0 else gear_of(speed)
    data = pack(4, (7, 4, True, gear), (15, 16, True, raw(speed, 0.01)),
                (3, 1, True, gear != previous_gear))
    previous_gear = gear
    records.append((t, can(1, 0x1A0, False, data, 0)))
for i in range(100):  # BodyStatus, CH1, every 100 ms: the driver's door open for 0.6 s
    t = 0.1 * i + 0.0206
    data = pack(2, (0, 1, False, 0.2 <= t < 0.8), (1, 1, False, 0), (8, 8, False, raw(60, 0.5)))
    records.append((t, can(1, 0xC8, False, data, 0)))
for i in range(20):  # ClimateData, CH2, extended, every 500 ms
    t = 0.5 * i + 0.0308
    ambient = struct.unpack("<I", struct.pack("<f", 21.5 + 0.05 * i))[0]
    data = pack(8, (0, 32, False, ambient), (32, 16, False, raw(23 - 0.1 * i, 0.01)))
    records.append((t, can(2, 0x18FEF200, True, data, 0)))
for i in range(40):  # Diagnostics, CH2, every 250 ms: battery and oil in turn
    t = 0.25 * i + 0.0412
    if i % 2 == 0:
        data = pack(3, (0, 8, False, 1), (8, 16, False, raw(13.8 + 0.01 * i, 0.001)))
    else:
        data = pack(3, (0, 8, False, 2), (8, 16, False, raw(240 + 2 * i, 0.1)))
    records.append((t, can(2, 0x300, False, data, 0)))
records.append((3.0006, can(1, 0x7DF, False, bytes([2, 1, 0x0D, 0, 0, 0, 0, 0]), 0)))
records.append((5.0014, can(1, 0x100, False, b"", 0, remote=True, dlc=8)))

records.sort(key=lambda r: r[0])
stamped = [body[:4] + struct.pack("<I", stamp(t)) + body[8:] for t, body in records]
write("vehicle.DT", b"MONC", settings((40, "B", 7), (72, "B", 7)), stamped)
