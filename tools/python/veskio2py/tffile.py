"""Reader of the binary transfer-function file (docs/formats.md).

The lists and arrays of a file are numpy views of a copy-on-write mapping of
the file (or of the bytes read): nothing is copied value by value, so memory
stays near the size of the file and pages are read as they are used.
"""

import math
import os
import struct

import numpy as np

MAGIC = b"VESKFILE"
KNOWN_MAJOR = 1
_MAX_ID_LENGTH = 1024


class VeskFormatError(ValueError):
    """A truncated, corrupt or inconsistent transfer-function file."""


class _Cursor:
    """Little-endian reads from a byte buffer (a memoryview) with bounds checks."""

    def __init__(self, data, where):
        self.data = data
        self.pos = 0
        self.where = where

    def take(self, n, what):
        if n > len(self.data) - self.pos:
            raise VeskFormatError(
                f"{self.where}: expected {n} bytes of {what} at offset {self.pos}, "
                f"found {len(self.data) - self.pos}")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u8(self, what):
        return self.take(1, what)[0]

    def u32(self, what):
        return struct.unpack("<I", self.take(4, what))[0]

    def i32(self, what):
        return struct.unpack("<i", self.take(4, what))[0]

    def u64(self, what):
        return struct.unpack("<Q", self.take(8, what))[0]

    def values(self, count, size, dtype, what):
        """A view of `count` values of `size` bytes each, little-endian `dtype`."""
        return np.frombuffer(self.take(size * count, what), dtype=dtype)

    def text(self, what):
        n = self.u32(what + " length")
        raw = bytes(self.take(n, what))
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError as e:
            raise VeskFormatError(f"{self.where}: expected UTF-8 in {what}, found {e.reason}") from None


def _set_mark(cur, field):
    mark = cur.u8(field + " set mark")
    if mark not in (0, 1):
        raise VeskFormatError(f"{cur.where}: expected set mark 0 or 1 for {field}, found {mark}")
    return mark == 1


def _dims(cur, ndim, field):
    dims = []
    for i in range(ndim):
        d = cur.u32(f"{field} dimension {i}")
        if dims and dims[-1] == 0 and d != 0:
            raise VeskFormatError(f"{cur.where}: expected dimension 0 after an empty one in {field}, found {d}")
        dims.append(d)
    return dims


def _read_field(cur, field, kind):
    if not _set_mark(cur, field):
        return None
    if kind == "int":
        return cur.i32(field)
    if kind == "text":
        return cur.text(field)
    if kind == "vec3 list":
        n = cur.u32(field + " count")
        return cur.values(3 * n, 4, "<f4", field).reshape(n, 3)
    if kind == "u32 list":
        n = cur.u32(field + " count")
        return cur.values(n, 4, "<u4", field)
    if kind.startswith("vec3 array"):
        ndim = int(kind.split()[-1])
        dims = _dims(cur, ndim, field)
        return cur.values(3 * math.prod(dims), 4, "<f4", field).reshape(*dims, 3)
    if kind.startswith("complex array"):
        ndim = int(kind.split()[-1])
        dims = _dims(cur, ndim, field)
        return cur.values(math.prod(dims), 8, "<c8", field).reshape(dims)
    raise AssertionError(kind)


# Fields of each known data set (id, major, minor), in file order.
_LAYOUTS = {
    ("vgtf::Fmt", 1, 0): [("formatType", "int"), ("micCount", "int"), ("fftLength", "int"),
                          ("irLength", "int"), ("samplingRate", "int"), ("micPositions", "vec3 list")],
    ("vgtf::M2PG", 1, 0): [("sourceCount", "int"), ("innerCount", "int"),
                           ("positions", "vec3 array 2"), ("tf", "complex array 4")],
    ("vgtf::GTF", 1, 0): [("sourceCount", "int"), ("positions", "vec3 list"), ("binCount", "int"),
                          ("binIndices", "u32 list"), ("tf", "complex array 3")],
    ("vgtf::Spec", 1, 0): [(name, "text") for name in
                           ("date", "location", "equipment", "environment", "user", "note")],
}


def _check_equal(where, data_set, what, expected, found):
    if expected is not None and found is not None and expected != found:
        raise VeskFormatError(f"{where}: {data_set}: expected {what} {expected}, found {found}")


def _check_consistency(where, ds_id, f):
    if ds_id == "vgtf::Fmt" and f.get("micPositions") is not None:
        _check_equal(where, ds_id, "micCount", f.get("micCount"), len(f["micPositions"]))
    if ds_id == "vgtf::M2PG":
        if f.get("positions") is not None and f.get("tf") is not None:
            _check_equal(where, ds_id, "sources x inner positions (positions)", f["positions"].shape[:2],
                         f["tf"].shape[:2])
        for arr in ("positions", "tf"):
            if f.get(arr) is not None:
                _check_equal(where, ds_id, "sourceCount", f.get("sourceCount"), f[arr].shape[0])
                _check_equal(where, ds_id, "innerCount", f.get("innerCount"), f[arr].shape[1])
    if ds_id == "vgtf::GTF":
        if f.get("positions") is not None:
            _check_equal(where, ds_id, "sourceCount", f.get("sourceCount"), len(f["positions"]))
        if f.get("tf") is not None:
            _check_equal(where, ds_id, "sourceCount", f.get("sourceCount"), f["tf"].shape[0])
            _check_equal(where, ds_id, "binCount", f.get("binCount"), f["tf"].shape[2])
        if f.get("binIndices") is not None:
            _check_equal(where, ds_id, "binCount", f.get("binCount"), len(f["binIndices"]))
        # Without sourceCount and binCount the lists must still agree with tf.
        if f.get("tf") is not None and f["tf"].shape[0] != 0:
            if f.get("positions") is not None:
                _check_equal(where, ds_id, "sources (positions)", len(f["positions"]), f["tf"].shape[0])
            if f.get("binIndices") is not None and f["tf"].shape[1] != 0:
                _check_equal(where, ds_id, "bins (binIndices)", len(f["binIndices"]), f["tf"].shape[2])


class TFFile:
    """A transfer-function file read whole.

    data_sets: list of (id, (major, minor), fields dict) in file order, fields
    as read (None for an unset field); unknown data sets are skipped.
    Shortcuts (None when the file lacks them):
      kind            "m2pg" or "gtf"
      format_type, mic_count, fft_length, ir_length, sampling_rate   (vgtf::Fmt)
      mic_positions   float32 [mic, 3], metres
      positions       float32 [source, 3], metres (M2PG: source and inner
                      positions flattened, source outer)
      tf              complex64 [source, mic, bin] (M2PG flattened the same way)
      bin_indices     uint32 [bin] (GTF), else 0 .. fft_length/2
      spec            dict of the six texts of vgtf::Spec
    """

    def __init__(self, data_sets):
        self.data_sets = data_sets
        fmt = self.fields("vgtf::Fmt") or {}
        self.format_type = fmt.get("formatType")
        self.mic_count = fmt.get("micCount")
        self.fft_length = fmt.get("fftLength")
        self.ir_length = fmt.get("irLength")
        self.sampling_rate = fmt.get("samplingRate")
        self.mic_positions = fmt.get("micPositions")
        self.spec = self.fields("vgtf::Spec")
        self.kind = None
        self.positions = self.tf = self.bin_indices = None
        self.source_count = None
        gtf, m2pg = self.fields("vgtf::GTF"), self.fields("vgtf::M2PG")
        if gtf is not None:
            self.kind = "gtf"
            self.source_count = gtf.get("sourceCount")
            self.positions = gtf.get("positions")
            self.tf = gtf.get("tf")
            self.bin_indices = gtf.get("binIndices")
        elif m2pg is not None:
            self.kind = "m2pg"
            self.source_count = m2pg.get("sourceCount")
            pos, tf4 = m2pg.get("positions"), m2pg.get("tf")
            if pos is not None:
                self.positions = pos.reshape(pos.shape[0] * pos.shape[1], 3)
            if tf4 is not None:
                self.tf = tf4.reshape(tf4.shape[0] * tf4.shape[1], tf4.shape[2], tf4.shape[3])
        if self.bin_indices is None and self.tf is not None:
            self.bin_indices = np.arange(self.tf.shape[2], dtype=np.uint32)

    def fields(self, ds_id):
        """Fields of the first data set with this id, or None."""
        for i, _, f in self.data_sets:
            if i == ds_id:
                return f
        return None

    def frequencies_hz(self):
        """Centre frequency of every stored bin, Hz."""
        return self.bin_indices.astype(np.float64) * self.sampling_rate / self.fft_length


def parse_tf(data, where="<bytes>"):
    """Parses the bytes of a transfer-function file; raises VeskFormatError.

    `data` is any bytes-like object; the arrays returned are views of it (read
    only when it is).
    """
    cur = _Cursor(memoryview(data).cast("B"), where)
    magic = bytes(cur.take(8, "magic"))
    if magic != MAGIC:
        raise VeskFormatError(f"{where}: expected magic VESKFILE, found {magic!r}")
    major, minor = cur.u32("format major"), cur.u32("format minor")
    if major != KNOWN_MAJOR:
        raise VeskFormatError(f"{where}: expected format major version 1, found {major}")
    count = cur.u32("data set count")
    data_sets = []
    for _ in range(count):
        id_len = cur.u32("data set id length")
        if not 1 <= id_len <= _MAX_ID_LENGTH:
            raise VeskFormatError(f"{where}: expected a data set id length of 1 to 1024, found {id_len}")
        ds_id = bytes(cur.take(id_len, "data set id")).decode("utf-8", errors="replace")
        version = (cur.u32("data set major"), cur.u32("data set minor"))
        body_len = cur.u64("data set body length")
        body = cur.take(body_len, f"{ds_id} body")
        layout = _LAYOUTS.get((ds_id, *version))
        if layout is None:
            continue
        body_cur = _Cursor(body, f"{where}: {ds_id}")
        fields = {name: _read_field(body_cur, name, kind) for name, kind in layout}
        if body_cur.pos != len(body):
            raise VeskFormatError(
                f"{where}: {ds_id}: expected a body of {body_cur.pos} bytes, found {len(body)}")
        _check_consistency(where, ds_id, fields)
        data_sets.append((ds_id, version, fields))
    if cur.pos != len(cur.data):
        raise VeskFormatError(
            f"{where}: expected the file to end at byte {cur.pos}, found {len(cur.data) - cur.pos} more bytes")
    return TFFile(data_sets)


def read_tf(path, mmap=True):
    """Reads a transfer-function file; raises VeskFormatError naming the file.

    By default the file is mapped copy-on-write: its pages are read as the
    arrays are used, and changing an array never changes the file. With
    mmap=False (or for a file that cannot be mapped) it is read at once into
    one buffer of its size: use it for a file that another program may
    truncate or rewrite in place while the arrays are in use. Either way the
    arrays are views, not copies.
    """
    if mmap:
        mapped = None
        try:
            if os.path.getsize(path) > 0:
                mapped = np.memmap(path, dtype=np.uint8, mode="c")
        except (OSError, ValueError):
            pass  # not a mappable file: read it
        if mapped is not None:
            return parse_tf(mapped, str(path))  # a format error is the file's, not the mapping's
    with open(path, "rb", buffering=0) as f:  # straight into the buffer
        size = os.fstat(f.fileno()).st_size
        buffer = np.empty(size, dtype=np.uint8)
        view = memoryview(buffer)
        got = 0
        while got < size:
            n = f.readinto(view[got:])
            if not n:
                break
            got += n
        # A file that shrank meanwhile is read as far as it goes.
        return parse_tf(view[:got], str(path))
