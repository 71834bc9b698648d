#!/usr/bin/python3
"""Writes one .flt impulse response of LENGTH samples for every file named in
an impulse-response list (decaying noise after a direct sound), and the list
of their paths to PATHS_OUT. Usage: make_w2.py IR_LIST_XML LENGTH PATHS_OUT"""
import sys
import xml.etree.ElementTree as ET

import numpy as np

list_xml, length, paths_out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = np.random.default_rng(12)
envelope = np.exp(-np.arange(length) / 400.0).astype(np.float32)
names = [f.text for f in ET.parse(list_xml).getroot().iter("name")]
for n, name in enumerate(names):
    h = rng.standard_normal(length, dtype=np.float32) * envelope * np.float32(0.05)
    h[20 + n % 64] += 1.0
    h.astype("<f4").tofile(name)
with open(paths_out, "w") as f:
    f.write("\n".join(names) + "\n")
