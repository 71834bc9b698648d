#!/usr/bin/python3
"""Writes the signal inputs of the reference runs into inputs/: impulse
responses (.flt) for the impulse-response list, and a played TSP period with
two 16-bit recordings for the TSP list. Run once; the files are kept in the
repository so that the reference outputs never depend on this script again.
The configuration files come from trelvix's template mode (make-inputs.sh)."""
import os
import struct
import sys
import wave

import numpy as np

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "inputs")
rng = np.random.default_rng(20261208)

PERIOD = 16384  # samples of one played TSP period


def write_flt(path, samples):
    np.asarray(samples, dtype="<f4").tofile(path)


def decaying_response(length, delay):
    h = rng.normal(0.0, 0.05, length) * np.exp(-np.arange(length) / 80.0)
    h[delay] += 1.0
    return h


# Impulse-response list: 6 azimuths x 4 microphones, 600 samples each, the
# direct sound a few samples apart per microphone.
for azi in range(0, 360, 60):
    for ch in range(4):
        write_flt(os.path.join(here, "ir", "D%03d_ch%02d.flt" % (azi, ch)),
                  decaying_response(600, 20 + azi // 60 + 3 * ch))

# TSP list: one period of unit-magnitude spectrum and random phase.
spectrum = np.exp(1j * rng.uniform(-np.pi, np.pi, PERIOD // 2 + 1))
spectrum[0] = spectrum[-1] = 1.0
period = np.fft.irfft(spectrum, PERIOD)
period *= 0.1 / np.max(np.abs(period))
write_flt(os.path.join(here, "origin.tsp"), period)

# Two recordings of two channels, each two periods long (one to settle, one
# averaged), circularly convolved with short known responses.
for azi in (0, 180):
    channels = []
    for ch in range(2):
        h = np.zeros(PERIOD)
        h[:40] = decaying_response(40, 3 + azi // 180 + ch)
        channels.append(np.fft.irfft(np.fft.rfft(period) * np.fft.rfft(h), PERIOD))
    frames = np.tile(np.stack(channels, axis=1), (2, 1))
    pcm = np.clip(np.round(frames * 32767 * 2.0), -32768, 32767).astype("<i2")
    with wave.open(os.path.join(here, "D%03d.wav" % azi), "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(16000)
        w.writeframes(pcm.tobytes())
