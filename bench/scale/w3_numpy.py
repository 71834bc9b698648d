#!/usr/bin/python3
"""The W3 job in plain numpy: free-field geometry (source positions of a TSP
list, microphone positions) to an M2PG transfer-function file, as trelvix
--mode tf --geometry-calculus 1 does it: unit-magnitude delays, the latest
direct path shifted to direct_length samples before the window's end,
phases rounded to single precision. Written in the same layout, a block of
sources at a time.
Usage: w3_numpy.py MIC_XML TSP_LIST_XML NFFT OUT [--check TRELVIX_OUT]"""
import os
import sys
import time
import xml.etree.ElementTree as ET

import numpy as np

import vesk_layout as vl

mic_xml, list_xml, nfft, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
check = sys.argv[6] if len(sys.argv) > 6 and sys.argv[5] == "--check" else None
sampling_freq, direct_length = 16000, 32

mics = vl.read_mics(mic_xml)
mic_positions = np.array([p for _, p in mics], np.float32)
sources = np.array([vl.cartesian(s.find("position")) for s in ET.parse(list_xml).getroot().iter("source")],
                   np.float32)
# Positions go through direction and distance, as the library keeps them.
length = np.sqrt((sources * sources).sum(axis=1, dtype=np.float32))
sources = (sources / length[:, None]) * length[:, None]

num_src, num_mic, bins = len(sources), len(mics), nfft // 2 + 1
bin_numbers = np.arange(bins, dtype=np.float64)
with open(out, "wb") as f:
    vl.write_header(f, 3)
    vl.write_fmt(f, 1, nfft, 0, sampling_freq, mic_positions)
    head = (b"\x01" + np.int32(num_src).tobytes() + b"\x01" + np.int32(1).tobytes()
            + b"\x01" + np.array([num_src, 1], "<u4").tobytes() + sources.astype("<f4").tobytes()
            + b"\x01" + np.array([num_src, 1, num_mic, bins], "<u4").tobytes())
    vl.record(f, "vgtf::M2PG", len(head) + num_src * num_mic * bins * 8)
    f.write(head)
    block = 2048
    for first in range(0, num_src, block):
        p = sources[first:first + block]
        d = p[:, None, :] - mic_positions[None, :, :]
        delay = np.sqrt((d * d).sum(axis=2, dtype=np.float32)) * (np.float32(sampling_freq) / np.float32(343.0))
        offset = np.maximum(np.float32(0), delay.max(axis=1) + np.float32(direct_length) - np.float32(nfft))
        # Same order of operations as trelvix, so the rounding to single matches.
        x = (offset[:, None] - delay).astype(np.float64)[:, :, None]
        phase = (((x * 6.283185307179586) * bin_numbers) / nfft).astype(np.float32)
        tf = np.empty(phase.shape, np.complex64)
        tf.real = np.cos(phase)
        tf.imag = np.sin(phase)
        tf.tofile(f)
    vl.write_spec(f, time.strftime("%Y/%m/%d"), os.environ.get("USERNAME", os.environ.get("USER", "")))

if check:
    theirs = vl.tf_values(check)
    ours = np.memmap(out, dtype="<c8", mode="r", offset=theirs.offset, shape=theirs.shape)
    vl.check_close(ours, check)
    print("w3: numpy values agree with trelvix's within 1e-5")
