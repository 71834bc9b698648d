#!/usr/bin/python3
"""The W2 job in plain numpy: an impulse-response list to a GTF
transfer-function file, as trelvix --mode tf --output-type gtf does it
(window at cutStart, energy of each source divided out, one-sided spectrum,
conjugate, last bin 0), written in the same layout.
Usage: w2_numpy.py MIC_XML IR_LIST_XML NFFT OUT [--check TRELVIX_OUT]"""
import os
import sys
import time
import xml.etree.ElementTree as ET

import numpy as np

import vesk_layout as vl

mic_xml, list_xml, nfft, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
check = sys.argv[6] if len(sys.argv) > 6 and sys.argv[5] == "--check" else None

mics = vl.read_mics(mic_xml)
sources = list(ET.parse(list_xml).getroot().iter("source"))
ir = np.empty((len(sources), len(mics), nfft), np.float32)
positions = np.empty((len(sources), 3), np.float32)
first_length = 0
for s, source in enumerate(sources):
    positions[s] = vl.cartesian(source.find("position"))
    start = int(source.find("cutStart").text) - 1
    by_index = {int(f.find("micIndices/micIndex").text): f.find("name").text for f in source.iter("file")}
    for m, (index, _) in enumerate(mics):
        with open(by_index[index], "rb") as f:
            if s == 0 and m == 0:
                first_length = os.fstat(f.fileno()).st_size // 4
            f.seek(4 * start)
            ir[s, m] = np.fromfile(f, "<f4", count=nfft)

bins = nfft // 2 + 1
with open(out, "wb") as f:
    vl.write_header(f, 3)
    vl.write_fmt(f, 2, nfft, first_length, 16000, [p for _, p in mics])
    head = (b"\x01" + np.int32(len(sources)).tobytes()
            + b"\x01" + np.uint32(len(sources)).tobytes() + positions.astype("<f4").tobytes()
            + b"\x01" + np.int32(bins).tobytes()
            + b"\x01" + np.uint32(bins).tobytes() + np.arange(bins, dtype="<u4").tobytes()
            + b"\x01" + np.array([len(sources), len(mics), bins], "<u4").tobytes())
    vl.record(f, "vgtf::GTF", len(head) + len(sources) * len(mics) * bins * 8)
    f.write(head)
    for first in range(0, len(sources), 256):
        block = ir[first:first + 256]
        block /= (block * block).sum(axis=(1, 2), dtype=np.float32)[:, None, None]
        tf = np.conj(np.fft.rfft(block, axis=-1)).astype(np.complex64)
        tf[:, :, -1] = 0
        tf.tofile(f)
    vl.write_spec(f, time.strftime("%Y/%m/%d"), os.environ.get("USERNAME", os.environ.get("USER", "")))

if check:
    theirs = vl.tf_values(check)
    vl.check_close(np.memmap(out, dtype="<c8", mode="r", offset=theirs.offset, shape=theirs.shape), check)
    print("w2: numpy values agree with trelvix's within 1e-5")
