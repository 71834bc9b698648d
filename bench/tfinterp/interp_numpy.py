#!/usr/bin/env python3
"""Plain numpy doing tfinterp's delay-aligned weighting, for the benchmark.

Usage: interp_numpy.py TF.bin LIST.xml OUT.raw

Reads the measured transfer functions and the targets' positions, estimates
each response's delay (the slope of its phase over 300 Hz - 0.8 Nyquist,
refined once around a coarse upsampled peak), triangulates the measured
directions (scipy's convex hull), finds each target's triangle and its
barycentric weights, weights magnitude and unwrapped aligned phase, puts the
weighted delay back and writes the complex64 values [target][mic][bin] raw.
"""
import sys

import numpy as np
from scipy.spatial import ConvexHull

sys.path.insert(0, sys.path[0] + "/../../tools/python")
from veskio2py.config import read_config  # noqa: E402
from veskio2py.tffile import read_tf  # noqa: E402


def delays_of(spectra, nfft, fs):
    """Delay in samples of each spectrum [n, bins]: envelope peak, then phase slope."""
    bins = spectra.shape[-1]
    k = np.arange(bins)
    band = (k * fs / nfft >= 300) & (k * fs / nfft <= 0.4 * fs)
    up = 8
    padded = np.zeros((spectra.shape[0], nfft * up // 2 + 1), complex)
    padded[:, :bins][:, band] = spectra[:, band]
    pulse = np.fft.irfft(padded, nfft * up, axis=1)
    coarse = np.argmax(np.abs(pulse), axis=1) / up
    omega = 2 * np.pi * k[band] / nfft
    rotated = spectra[:, band] * np.exp(1j * omega[None, :] * coarse[:, None])
    phase = np.unwrap(np.angle(rotated), axis=1)
    w = np.abs(rotated) ** 2
    om = omega[None, :]
    sw, swx, swy = w.sum(1), (w * om).sum(1), (w * phase).sum(1)
    swxx, swxy = (w * om * om).sum(1), (w * om * phase).sum(1)
    slope = (sw * swxy - swx * swy) / (sw * swxx - swx * swx)
    return coarse - slope


def main():
    tf = read_tf(sys.argv[1])
    cfg = read_config(sys.argv[2])
    nfft, fs = tf.fft_length, tf.sampling_rate
    X = np.asarray(tf.tf).astype(np.complex128)
    if tf.kind == "gtf":
        X = np.conj(X)
    src, mics, bins = X.shape
    pos = np.asarray(tf.positions, float)
    dirs = pos / np.linalg.norm(pos, axis=1, keepdims=True)
    # Coincident directions (a pole's azimuths) as one.
    _, first = np.unique(np.round(dirs, 5), axis=0, return_index=True)
    first = np.sort(first)
    dirs, X = dirs[first], X[first]
    tau = delays_of(X.reshape(-1, bins), nfft, fs).reshape(len(first), mics)
    k = np.arange(bins)
    A = X * np.exp(2j * np.pi * k[None, None, :] * tau[:, :, None] / nfft)
    mag, phase = np.abs(A), np.unwrap(np.angle(A), axis=2)

    targets = np.array([s.position.direction * (s.position.distance or 1.0) for s in cfg.sources], float)
    t = targets / np.linalg.norm(targets, axis=1, keepdims=True)
    hull = ConvexHull(dirs)
    faces = hull.simplices
    normals = hull.equations[:, :3]
    offsets = -hull.equations[:, 3]
    out = np.empty((len(t), mics, bins), np.complex64)
    block = 4096
    for start in range(0, len(t), block):
        tb = t[start:start + block]
        facing = tb @ normals.T                      # [target, face]
        with np.errstate(divide="ignore", invalid="ignore"):
            scale = offsets[None, :] / facing
        p = tb[:, None, :] * scale[:, :, None]       # hit points on each face's plane
        a, b, c = dirs[faces[:, 0]], dirs[faces[:, 1]], dirs[faces[:, 2]]
        area = np.einsum("fi,fi->f", normals, np.cross(b - a, c - a))
        la = np.einsum("fi,tfi->tf", normals, np.cross(b[None] - p, c[None] - p)) / area
        lb = np.einsum("fi,tfi->tf", normals, np.cross(c[None] - p, a[None] - p)) / area
        lc = 1 - la - lb
        ok = (facing > 0) & (la >= -1e-9) & (lb >= -1e-9) & (lc >= -1e-9)
        face = np.argmax(ok, axis=1)
        rows = np.arange(len(tb))
        w = np.stack([la[rows, face], lb[rows, face], lc[rows, face]], 1)
        w = np.clip(w, 0, None)
        w /= w.sum(1, keepdims=True)
        v = faces[face]                              # [target, 3]
        m = np.einsum("tn,tnmk->tmk", w, mag[v])
        ref = phase[v[:, 0]]
        ph = phase[v]
        ph = ph + 2 * np.pi * np.round((ref[:, None] - ph) / (2 * np.pi))
        ph = np.einsum("tn,tnmk->tmk", w, ph)
        d = np.einsum("tn,tnm->tm", w, tau[v])
        y = m * np.exp(1j * (ph - 2 * np.pi * k[None, None, :] * d[:, :, None] / nfft))
        out[start:start + block] = np.conj(y) if tf.kind == "gtf" else y
    out.tofile(sys.argv[3])


if __name__ == "__main__":
    main()
