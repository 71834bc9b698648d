#!/usr/bin/env python3
"""Normalised MUSIC as a user writes it in numpy: the same frames (periodic
Hann, nfft of the TF file, hop nfft/2), band (500 Hz to 0.8 of Nyquist),
blocks (0.5 s, a frame in the block of its centre) and peak (the largest
direction, K = 1), vectorised per block: one eigh over the block's bins, one
product over all directions. Prints one line per block: start, azimuth."""
import sys
import numpy as np
from scipy.io import wavfile
import veskio2py

tf_path, wav_path = sys.argv[1], sys.argv[2]
tf = veskio2py.read_tf(tf_path)
rate, rec = wavfile.read(wav_path)
rec = rec.astype(np.float64)
if rec.ndim == 1:
    rec = rec[:, None]
nfft = tf.fft_length
hop = nfft // 2
bins = np.arange(nfft // 2 + 1)
freqs = bins * rate / nfft
band = (freqs >= 500) & (freqs <= 0.8 * rate / 2) & (bins > 0) & (bins < nfft // 2)
a = np.asarray(tf.tf)[:, :, band].transpose(2, 0, 1)          # [bin, dir, mic]
a = a / np.maximum(np.linalg.norm(a, axis=2, keepdims=True), 1e-30)
pos = np.asarray(tf.positions)
az = np.degrees(np.arctan2(pos[:, 1], pos[:, 0])) % 360

window = 0.5 - 0.5 * np.cos(2 * np.pi * np.arange(nfft) / nfft)
frames = (rec.shape[0] - nfft) // hop + 1
block = int(round(0.5 * rate))
starts = np.arange(frames) * hop
which = (starts + nfft // 2) // block
for b in np.unique(which):
    idx = starts[which == b]
    seg = np.stack([rec[s:s + nfft] for s in idx]) * window[None, :, None]   # [frame, t, mic]
    x = np.fft.rfft(seg, axis=1)[:, band, :]                                  # [frame, bin, mic]
    r = np.einsum('fbm,fbn->bmn', x, x.conj()) / len(idx)                      # [bin, mic, mic]
    _, v = np.linalg.eigh(r)
    e = v[:, :, -1]                                                            # signal subspace, K = 1
    proj = np.abs(np.einsum('bm,bdm->bd', e.conj(), a)) ** 2
    p = 1.0 / np.maximum(1.0 - proj, 1e-6)
    spectrum = (p / p.max(axis=1, keepdims=True)).sum(axis=0)
    print("%.2f %.1f" % (b * block / rate, az[np.argmax(spectrum)]))
