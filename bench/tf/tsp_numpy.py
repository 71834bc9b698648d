"""Plain numpy version of the dravik runs of the tf benchmark.

For every DIR/D*_00.wav (16-bit PCM): average PERIODS periods of N samples
from sample OFFSET on, divide the spectrum of the average by that of the
float origin (scaled by 1/SIGMAX), and write the first 4096 samples of the
result per channel to OUT/<wave name>/float_ch<k>.flt (float32, little
endian), as dravik does.

    tsp_numpy.py DIR ORIGIN PERIODS OFFSET N SIGMAX OUT [--check REF]

With --check, compares every response with REF/<wave name>/float_ch<k>.flt
and fails when a sample differs by more than 1e-6 of that response's peak.
"""
import os
import sys
import wave

import numpy as np

IMPULSE_LENGTH = 4096


def read_pcm16(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 2:
            raise SystemExit(f"{path}: expected 16-bit PCM, found {8 * w.getsampwidth()}-bit")
        channels = w.getnchannels()
        data = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
    return data.reshape(-1, channels)


def main(argv):
    args = argv[1:]
    check = None
    if "--check" in args:
        at = args.index("--check")
        check = args[at + 1]
        del args[at:at + 2]
    directory, origin, periods, offset, n, sigmax, out = args
    periods, offset, n, sigmax = int(periods), int(offset), int(n), float(sigmax)
    reference = np.fromfile(origin, dtype="<f4")[:n].astype(np.float64) / sigmax
    reference_spectrum = np.fft.rfft(reference)
    worst = 0.0
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".wav"):
            continue
        frames = read_pcm16(os.path.join(directory, name))
        window = frames[offset:offset + n * periods].reshape(periods, n, -1)
        average = window.sum(axis=0, dtype=np.int64) / 32768.0 / periods
        spectrum = np.fft.rfft(average, axis=0) / reference_spectrum[:, None]
        impulses = np.fft.irfft(spectrum, n=n, axis=0)[:IMPULSE_LENGTH].astype("<f4")
        target = os.path.join(out, name)
        os.makedirs(target, exist_ok=True)
        for c in range(impulses.shape[1]):
            file_name = f"float_ch{c + 1}.flt"
            impulses[:, c].tofile(os.path.join(target, file_name))
            if check:
                ref = np.fromfile(os.path.join(check, name, file_name), dtype="<f4")
                peak = float(np.max(np.abs(ref)))
                err = float(np.max(np.abs(ref - impulses[:, c]))) / peak if ref.size == IMPULSE_LENGTH else np.inf
                worst = max(worst, err)
    if check:
        print(f"largest difference from dravik: {worst:.3g} of the peak")
        return 0 if worst <= 1e-6 else 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
