"""A transfer-function file's inter-microphone phase against the free field
its positions predict.

Sign convention. An M2PG file holds the spectrum of each impulse response,
H(f) = sum_n h[n] exp(-i 2 pi f n / fs): a sound that arrives tau seconds
later has phase -2 pi f tau. A GTF file holds the conjugate, so its phase
runs the other way (+2 pi f tau). The relative phase of microphone m is
angle(H_m * conj(H_ref)).
"""

import numpy as np

SIGN_CONVENTION = ("M2PG holds H(f) = \u03a3 h[n] e^{-i2\u03c0fn/fs}: a later arrival has a more negative phase; "
                   "GTF holds conj(H): a later arrival has a more positive phase. "
                   "Relative phase = angle(H_mic \u00b7 conj(H_ref)).")


def wrap(phase):
    """Radians into [-pi, pi)."""
    return (phase + np.pi) % (2 * np.pi) - np.pi


def aperture_m(mic_pos):
    """Largest distance between two microphones, metres."""
    mic_pos = np.asarray(mic_pos, dtype=np.float64)
    if len(mic_pos) < 2:
        return 0.0
    return float(np.max(np.linalg.norm(mic_pos[:, None, :] - mic_pos[None, :, :], axis=2)))


def predicted_relative_phase(kind, freqs_hz, source_pos, mic_pos, ref, speed_mps):
    """Free-field phase of every microphone relative to microphone `ref`
    (its position in mic_pos), [source, mic, bin], radians, by the file
    kind's sign convention. Positions in metres."""
    dist = np.linalg.norm(np.asarray(source_pos, np.float64)[:, None, :]
                          - np.asarray(mic_pos, np.float64)[None, :, :], axis=2)
    dtau_s = (dist - dist[:, ref:ref + 1]) / speed_mps
    phase = -2 * np.pi * np.asarray(freqs_hz)[None, None, :] * dtau_s[:, :, None]
    return -phase if kind == "gtf" else phase


def usable_bins(tf_file):
    """Bins whose phase says something about a delay: not DC, not the
    Nyquist bin (both real for a real response), [bin] bool."""
    idx = tf_file.bin_indices.astype(np.int64)
    return (idx > 0) & (2 * idx != tf_file.fft_length)


def phase_error(tf_file, mic_pos, ref=0, speed_mps=343.0):
    """File minus free-field prediction of the phase relative to microphone
    `ref`, wrapped, [source, mic, bin], radians. NaN where the phase carries
    no delay: DC, the Nyquist bin, and any value that is exactly zero in the
    microphone or the reference."""
    tf = tf_file.tf
    measured = np.angle(tf * np.conj(tf[:, ref:ref + 1, :]))
    predicted = predicted_relative_phase(tf_file.kind, tf_file.frequencies_hz(),
                                         tf_file.positions, mic_pos, ref, speed_mps)
    err = wrap(measured - predicted)
    blank = (tf == 0) | (tf[:, ref:ref + 1, :] == 0) | ~usable_bins(tf_file)[None, None, :]
    return np.where(blank, np.nan, err)


def summarize_error(err, freqs_hz, band_hz, ref, sources=None):
    """Median and worst of |err| over the microphones other than `ref`, the
    sources selected (all by default) and the bins inside band_hz
    (inclusive): in degrees, and as time (microseconds, |err| / 2 pi f).
    Returns a dict, or None when no value is left; `worst_at` is
    (source, mic, frequency Hz) of the worst phase."""
    freqs_hz = np.asarray(freqs_hz, np.float64)
    keep_bin = (freqs_hz >= band_hz[0]) & (freqs_hz <= band_hz[1]) & (freqs_hz > 0)
    keep_mic = np.arange(err.shape[1]) != ref
    src = np.arange(err.shape[0]) if sources is None else np.asarray(sources)
    sub = np.abs(err[np.ix_(src, np.nonzero(keep_mic)[0], np.nonzero(keep_bin)[0])])
    if sub.size == 0 or np.all(np.isnan(sub)):
        return None
    us = sub / (2 * np.pi * freqs_hz[keep_bin])[None, None, :] * 1e6
    s, m, k = np.unravel_index(np.nanargmax(sub), sub.shape)
    return {
        "median_deg": float(np.degrees(np.nanmedian(sub))),
        "worst_deg": float(np.degrees(np.nanmax(sub))),
        "median_us": float(np.nanmedian(us)),
        "worst_us": float(np.nanmax(us)),
        "worst_at": (int(src[s]), int(np.nonzero(keep_mic)[0][m]), float(freqs_hz[keep_bin][k])),
        "count": int(np.count_nonzero(~np.isnan(sub))),
    }


def direction_error_deg(time_error_us, aperture, speed_mps=343.0):
    """Direction error that a time-difference error across the aperture
    gives for a source broadside to it: asin(c dt / D), degrees (90 when
    c dt exceeds D). NaN without an aperture."""
    if aperture <= 0:
        return float("nan")
    return float(np.degrees(np.arcsin(min(1.0, speed_mps * time_error_us * 1e-6 / aperture))))
