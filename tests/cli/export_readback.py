"""Reads an export back as the tools engineers use read it, and compares its
frames and times with the capture: fields as `ksvw-dt list` shows them, times
from the DT file's own time stamps.

    export_readback.py CAPTURE.DT LIST READER FILE

READER: candump, asc, blf (python-can); tshark (a pcapng or BLF file);
tcpdump (a --split-links file); log2asc, asc2log (can-utils' converters,
their output read by python-can). Times are SOURCE_DATE_EPOCH plus the
record's time (run with TZ=UTC). Prints each difference and exits 1 when
there is one.
"""
import os
import struct
import subprocess
import sys

import can

dt, listing, reader, path = sys.argv[1:5]
base = int(os.environ["SOURCE_DATE_EPOCH"])
LIN_ERRORS = {"R": 1, "L": 1, "B": 2, "S": 2, "E": 2, "P": 4, "C": 8, "O": 0x20}
HOUR = 3600 * 5000  # in ticks of 0.2 ms
faults = []


def record_seconds():
    """Each record's time (it follows the record before it by less than an
    hour), and whether the capture is of the CAN-only board."""
    data, pos, body, can_only = open(dt, "rb").read(), 16, b"", False
    while pos + 8 <= len(data):
        size = struct.unpack_from("<I", data, pos + 4)[0]
        if data[pos:pos + 4] in (b"MONC", b"MDCL"):
            body, can_only = data[pos + 8:pos + 8 + size], data[pos:pos + 4] == b"MONC"
        pos += 8 + size
    times, total, previous = [], 0, None
    for k in range(0, len(body) - 31, 32):
        fifths, hundredths, seconds, minutes = body[k + 4:k + 8]
        now = ((minutes * 60 + seconds) * 100 + hundredths) * 50 + fifths
        total += 0 if previous is None else (now - previous) % HOUR
        previous = now
        times.append(base + total / 5000)
    return times, can_only


def checksum_model(pid, data, checksum):
    """1 classic, 2 enhanced: the model the checksum fits; 0 for neither or both."""
    sums = [0]
    for byte in data + bytes([pid]):  # sums with carry: the data, then the identifier too
        sums[0] += byte - (255 if sums[0] + byte > 255 else 0)
        sums.append(sums[0])
    classic, enhanced = ~sums[-2] & 0xFF, ~sums[-1] & 0xFF
    return 0 if classic == enhanced else {classic: 1, enhanced: 2}.get(checksum, 0)


def expected():
    """(bus, channel, id, extended, remote, dlc, data, seconds, LIN errors) per frame the reader sees."""
    frames = []
    with open(listing) as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    times, can_only = record_seconds()
    for row, t in zip(rows, times):
        ch, ident, ftype, status = row[1], row[4], row[5], row[16]
        data = bytes(int(c.strip("()"), 16) for c in row[7:15] if c)
        if ch not in ("1", "2") or (can_only and ftype not in ("DATA", "REMOTE")):
            continue  # the converter shows a LIN record of the CAN-only board as CAN channel 3 or 4
        if ftype in ("DATA", "REMOTE"):
            rtr, dlc = ftype == "REMOTE", int(row[6])
            if reader == "asc2log" and not rtr and (dlc > 8 or len(data) != dlc):
                continue  # can-utils 2020.11 skips a line whose DLC field is not its byte count
            if reader in ("asc", "asc2log") and rtr and dlc > 8:
                dlc = 0  # both read "r C" as a remote frame without length
            elif reader == "asc":
                dlc = can.util.dlc2len(dlc)  # python-can reads a DLC field above 8 as CAN FD's
            elif path.endswith(".blf"):  # the DLC field is the length: bytes not stored are 0
                data = b"" if rtr else data.ljust(min(dlc, 8), b"\0")
                dlc = dlc if reader == "blf" else min(dlc, 8)  # Wireshark shows the length
            else:
                dlc = min(dlc, 8) if rtr else len(data)
            frames.append(("can", int(ch), int(ident, 16), len(ident) == 8, rtr, dlc, data, t, None))
        elif "[" in ident and (reader == "tshark" or path.endswith("-lin.pcapng")):
            errors = LIN_ERRORS.get(status, 0) | (4 if ident.startswith("(") else 0)
            if row[15] and status != "C" and path.endswith(".pcapng"):  # and its checksum model
                pid, checksum = int(ident.split()[2], 16), int(row[15].strip("()"), 16)
                errors |= checksum_model(pid, data, checksum) << 8
            if not path.endswith(".blf") or errors == 0:  # Wireshark 4.0 reads LIN_MESSAGE only
                frames.append(("lin", int(ch), int(ident.split()[0].strip("()"), 16), False, False,
                               None, data, t, errors))
    if reader == "tcpdump":  # no channel; one link type per file
        frames = [(f[0], None) + f[2:] for f in frames if path.endswith(f"-{f[0]}.pcapng")]
    return frames


def python_can(messages):
    return [("can", (int(m.channel[3:]) if isinstance(m.channel, str) else m.channel) + 1,
             m.arbitration_id, m.is_extended_id, m.is_remote_frame, m.dlc,
             b"" if m.is_remote_frame else bytes(m.data), m.timestamp, None) for m in messages]


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True)


def tshark_frames():
    off = [a for p in ("autosar-nm", "signal_pdu", "ipdum", "obd-ii", "iso15765")
           for a in ("--disable-protocol", p)]
    fields = ["frame.interface_name", "frame.time_epoch", "can.id", "can.flags.xtd",
              "can.flags.rtr", "can.len", "lin.frame_id", "lin.errors", "lin.checksum_type",
              "data.data", "_ws.malformed"]
    out = run("tshark", "-r", path, *off, "-T", "fields", *[a for f in fields for a in ("-e", f)])
    said = out.stderr.replace('Running as user "root" and group "root". This could be dangerous.\n', "")
    if said:
        faults.append(f"tshark says {said}")
    frames = []
    for line in out.stdout.splitlines():
        name, epoch, can_id, xtd, rtr, length, lin_id, errors, model, data, malformed = line.split("\t")
        if malformed:
            faults.append(f"tshark: a malformed packet: {line}")
        ch = int(name[-1]) + (0 if "-" in name else 1)  # BLF: "CAN-1"; pcapng: "can0"
        payload, t = bytes.fromhex(data), float(epoch)
        if name.lower().startswith("can"):
            remote = rtr in ("1", "True")
            frames.append(("can", ch, int(can_id), xtd in ("1", "True"), remote, int(length),
                           b"" if remote else payload, t, None))
        else:
            frames.append(("lin", ch, int(lin_id, 16), False, False, None, payload, t,
                           int(errors, 16) | int(model or 0) << 8))
    return frames


def tcpdump_frames():
    packets = []
    for line in run("tcpdump", "-r", path, "-tt", "-x").stdout.splitlines():
        if line[:1].isdigit():
            packets.append([float(line.split()[0]), {}])
        elif "0x" in line:  # each offset's bytes, printed twice for an unknown link type
            offset, rest = line.split(":", 1)
            packets[-1][1].setdefault(offset, bytes.fromhex(rest.strip().split("  ")[0]))
    frames = []
    for t, lines in packets:
        b = b"".join(lines.values())
        if path.endswith("-can.pcapng"):
            flags, = struct.unpack_from(">I", b)
            rtr = bool(flags & 0x40000000)
            frames.append(("can", None, flags & 0x1FFFFFFF, bool(flags & 0x80000000), rtr, b[4],
                           b"" if rtr else b[8:8 + b[4]], t, None))
        else:
            frames.append(("lin", None, b[5] & 0x3F, False, False, None, b[8:8 + (b[4] >> 4)], t,
                           b[7] | (b[4] & 3) << 8))
    return frames


if reader in ("candump", "asc2log"):
    if reader == "asc2log":
        run("asc2log", "-I", path, "-O", "asc2log.log")
    actual = python_can(can.LogReader(path if reader == "candump" else "asc2log.log"))
elif reader in ("asc", "log2asc"):
    if reader == "log2asc":
        run("log2asc", "-I", path, "-O", "log2asc.asc", "can0", "can1")
    actual = python_can(can.ASCReader(path if reader == "asc" else "log2asc.asc",
                                      relative_timestamp=False))
elif reader == "blf":
    log = can.BLFReader(path)
    actual = python_can(log)
    if log.file_size != os.path.getsize(path) or abs(log.stop_timestamp - record_seconds()[0][-1]) >= 1e-3:
        faults.append(f"header: {log.file_size} bytes, the last object at {log.stop_timestamp}")
else:
    actual = tshark_frames() if reader == "tshark" else tcpdump_frames()
wanted = expected()
# log2asc dates its file by the first frame's whole second, and can-utils
# 2020.11's asc2log may read a date an hour off (its DST flag is not set).
if reader in ("log2asc", "asc2log") and actual and wanted:
    actual = [a[:7] + (a[7] - actual[0][7] + wanted[0][7],) + a[8:] for a in actual]

if len(actual) != len(wanted):
    faults.append(f"{len(actual)} frames read, {len(wanted)} in the list")
for k, (a, e) in enumerate(zip(actual, wanted)):
    if a[:7] + a[8:] != e[:7] + e[8:] or abs(a[7] - e[7]) > 5e-6:
        faults.append(f"frame {k}: read {a}, capture {e}")
for fault in faults[:10]:
    print(f"{reader} {path}: {fault}")
sys.exit(1 if faults else 0)
