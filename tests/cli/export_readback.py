"""Compares an export, as python-can or tshark reads it, with `ksvw-dt list`.

    export_readback.py LIST candump|asc FILE     (read with python-can)
    export_readback.py LIST pcapng FIELDS        (tshark -T fields output, see export_test.sh)

Prints each difference and exits 1 when there is one.
"""
import sys

listing, fmt, exported = sys.argv[1:4]


def expected_frames():
    """(bus, channel, id, extended, remote, dlc, data, seconds) per frame of the list."""
    frames, previous, elapsed = [], None, 0
    with open(listing) as f:
        rows = [line.rstrip("\n").split("\t") for line in f][1:]
    for row in rows:
        m, s, ms = (int(x) for x in row[0].split(":"))
        now = (m * 60 + s) * 1000 + ms
        if previous is not None:  # DT times wrap every hour
            elapsed += (now - previous) % 3600000
        previous = now
        ident, ftype = row[4], row[5]
        data = bytes(int(c.strip("()"), 16) for c in row[7:15] if c)
        if ftype in ("DATA", "REMOTE"):
            frames.append(("can", int(row[1]), int(ident, 16), len(ident) == 8,
                           ftype == "REMOTE", int(row[6]), data, elapsed / 1000))
        elif "[" in ident:  # a LIN frame: header with identifier
            frame_id = int(ident.split()[0].strip("()"), 16)
            frames.append(("lin", int(row[1]), frame_id, False, False, None, data, elapsed / 1000))
    return frames


def python_can_frames(channel_of):
    import can
    with can.LogReader(exported) as reader:
        return [("can", channel_of(m.channel), m.arbitration_id, m.is_extended_id,
                 m.is_remote_frame, m.dlc, b"" if m.is_remote_frame else bytes(m.data), m.timestamp)
                for m in reader]


def tshark_frames():
    frames = []
    with open(exported) as f:
        for line in f:
            name, epoch, can_id, xtd, rtr, length, lin_id, data = line.rstrip("\n").split("\t")
            payload = bytes.fromhex(data)
            if name.startswith("can"):
                remote = rtr in ("1", "True")
                frames.append(("can", int(name[3]), int(can_id), xtd in ("1", "True"), remote,
                               int(length), b"" if remote else payload, float(epoch)))
            else:
                frames.append(("lin", int(name[3]), int(lin_id, 16), False, False, None, payload,
                               float(epoch)))
    return frames


expected = expected_frames()
if fmt == "candump":
    expected = [e for e in expected if e[0] == "can"]
    actual = python_can_frames(lambda ch: int(ch[3:]) + 1)  # can0 is CH1
elif fmt == "asc":
    expected = [e for e in expected if e[0] == "can"]
    actual = python_can_frames(lambda ch: ch + 1)  # python-can counts ASC channels from 0
else:
    actual = tshark_frames()

faults = []
if len(actual) != len(expected):
    faults.append(f"{len(actual)} frames read back, {len(expected)} in the list")
for k, (a, e) in enumerate(zip(actual, expected)):
    dlc_ok = e[5] is None or a[5] == e[5]
    # The list shows milliseconds (truncated), the export fifths of a millisecond.
    if a[:5] != e[:5] or not dlc_ok or a[6] != e[6] or abs(a[7] - e[7]) > 0.0011:
        faults.append(f"frame {k}: read {a}, list {e}")
for fault in faults[:10]:
    print(f"{fmt} {exported}: {fault}")
sys.exit(1 if faults else 0)
