"""Writing and finding the parts of a transfer-function file (the binary
layout of docs/formats.md) for the plain numpy scripts of this benchmark."""
import struct
import xml.etree.ElementTree as ET

import numpy as np


def record(f, ident, body_bytes):
    """Writes a data set header for a body of body_bytes bytes."""
    f.write(struct.pack("<I", len(ident)) + ident.encode() + struct.pack("<IIQ", 1, 0, body_bytes))


def write_header(f, num_sets):
    f.write(b"VESKFILE" + struct.pack("<III", 1, 0, num_sets))


def write_fmt(f, format_type, nfft, ir_length, sampling_rate, mic_positions):
    body = b"".join(b"\x01" + struct.pack("<i", v)
                    for v in (format_type, len(mic_positions), nfft, ir_length, sampling_rate))
    body += b"\x01" + struct.pack("<I", len(mic_positions)) + np.asarray(mic_positions, "<f4").tobytes()
    record(f, "vgtf::Fmt", len(body))
    f.write(body)


def write_spec(f, date, user):
    body = b""
    for text in (date, "", "", "", user, ""):
        raw = text.encode()
        body += b"\x01" + struct.pack("<I", len(raw)) + raw
    record(f, "vgtf::Spec", len(body))
    f.write(body)


def tf_values(path):
    """The tf array of a file trelvix wrote, mapped read-only, with its shape."""
    with open(path, "rb") as f:
        data = f.read(20)
        num_sets = struct.unpack_from("<I", data, 16)[0]
        at = 20
        for _ in range(num_sets):
            f.seek(at)
            (id_len,) = struct.unpack("<I", f.read(4))
            ident = f.read(id_len).decode()
            f.read(8)
            (body_len,) = struct.unpack("<Q", f.read(8))
            body = at + 4 + id_len + 16
            if ident in ("vgtf::M2PG", "vgtf::GTF"):
                f.seek(body)
                head = f.read(64)
                if ident == "vgtf::M2PG":
                    p = 10
                    s, inner = struct.unpack_from("<II", head, p + 1)
                    p += 9 + 12 * s * inner
                    dims = 4
                else:
                    p = 5
                    f.seek(body + p)
                    (s,) = struct.unpack("<I", f.read(5)[1:])
                    p += 5 + 12 * s + 5
                    f.seek(body + p)
                    (n,) = struct.unpack("<I", f.read(5)[1:])
                    p += 5 + 4 * n
                    dims = 3
                f.seek(body + p + 1)
                shape = struct.unpack("<%dI" % dims, f.read(4 * dims))
                return np.memmap(path, dtype="<c8", mode="r", offset=body + p + 1 + 4 * dims, shape=shape)
            at = body + body_len
    raise ValueError(path + ": no tf array")


def check_close(ours, path):
    """Compares our values with those trelvix wrote, within 1e-5 relative to
    each value or to the root mean square of its spectrum, whichever is
    larger: the rounding of a single-precision transform scales with the
    spectrum, so a bin deep in a dip carries the error of the whole."""
    theirs = tf_values(path)
    if theirs.shape != ours.shape:
        raise SystemExit("shape %s, trelvix wrote %s" % (ours.shape, theirs.shape))
    rows = theirs.shape[0]
    step = max(1, rows // 64)
    for first in range(0, rows, step):
        t = np.asarray(theirs[first:first + step])
        o = np.asarray(ours[first:first + step])
        rms = np.sqrt((np.abs(t) ** 2).mean(axis=-1, keepdims=True))
        scale = np.maximum(np.abs(t), rms)
        bad = np.abs(o - t) > 1e-5 * scale
        if bad.any():
            where = np.argwhere(bad)[0]
            raise SystemExit("value %s differs: ours %s, trelvix %s" % (
                (first + where[0],) + tuple(where[1:]), o[tuple(where)], t[tuple(where)]))


def read_mics(path):
    """(micIndex, Cartesian position in metres) of every microphone."""
    mics = []
    for mic in ET.parse(path).getroot().iter("mic"):
        mics.append((int(mic.find("micIndex").text), cartesian(mic.find("position"))))
    return mics


def cartesian(position):
    direction = np.array([float(position.get(a)) for a in "xyz"], np.float32)
    distance = position.get("distance")
    return direction * np.float32(distance) if distance is not None else direction
