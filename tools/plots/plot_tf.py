#!/usr/bin/env python3
"""Draws PNG figures of a microphone array, its source positions and its
transfer functions.

    plot_tf.py --mic mic.xml --list list.xml --tf tf.bin [--tf more.bin ...] --out-dir DIR

writes DIR/array.png (top view, the array close up, side view) and, for each
TF file, DIR/PREFIXmagnitude.png (|TF| in dB over source azimuth x frequency
for one microphone) and DIR/PREFIXphase.png (phase of one microphone relative
to a reference microphone against the free-field prediction from the
geometry). PREFIX is the matching --prefix, or empty.
"""

import argparse
import os
import sys

import numpy as np
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

# The reader beside this script: tools/python in the source tree, or where
# `cmake --install` puts it when this runs as PREFIX/bin/vesk-plot-tf.
_HERE = os.path.dirname(os.path.realpath(__file__))
for _dir in (os.path.join(_HERE, "..", "python"), os.path.join(_HERE, "..", "lib", "python3", "dist-packages")):
    if os.path.isfile(os.path.join(_dir, "veskio2py", "__init__.py")):
        sys.path.insert(0, os.path.normpath(_dir))
        break
import veskio2py  # noqa: E402

FLOOR_DB = -120.0


def azimuth_deg(points):
    """Azimuth of each point in degrees, 0 ... 360."""
    return np.degrees(np.arctan2(points[:, 1], points[:, 0])) % 360.0


def predicted_phase(tf_file, source_pos, mic_pos, mic, ref, speed_mps):
    """Free-field phase of `mic` relative to `ref`, [source, bin], radians.

    A delay tau has the spectrum exp(-i w tau); the separation (GTF) files hold
    conjugated spectra, so their phase runs the other way."""
    freqs = tf_file.frequencies_hz()
    dist = np.linalg.norm(source_pos[:, None, :] - mic_pos[None, :, :], axis=2)
    dtau = (dist[:, mic] - dist[:, ref]) / speed_mps
    phase = -2 * np.pi * freqs[None, :] * dtau[:, None]
    return -phase if tf_file.kind == "gtf" else phase


def wrap(phase):
    return (phase + np.pi) % (2 * np.pi) - np.pi


def break_at_wraps(x, phase):
    """NaN between neighbours that jump by more than pi, so a drawn line
    does not cross the plot at a wrap."""
    jumps = np.nonzero(np.abs(np.diff(phase)) > np.pi)[0] + 1
    return np.insert(x.astype(float), jumps, np.nan), np.insert(phase.astype(float), jumps, np.nan)


def _scatter_view(ax, mics, mic_pos, src_pos, i, j, title, label_sources):
    if len(src_pos):
        ax.scatter(src_pos[:, i], src_pos[:, j], s=12, c="tab:orange", label=f"{len(src_pos)} sources")
    ax.scatter(mic_pos[:, i], mic_pos[:, j], s=30, c="tab:blue", marker="s", label=f"{len(mic_pos)} microphones")
    for idx, p in zip(mics.mic_indices(), mic_pos):
        ax.annotate(str(idx), (p[i], p[j]), textcoords="offset points", xytext=(4, 4), fontsize=7)
    if label_sources and len(src_pos):
        step = max(1, len(src_pos) // 12)
        for s in range(0, len(src_pos), step):
            ax.annotate(str(s), (src_pos[s, i], src_pos[s, j]), textcoords="offset points",
                        xytext=(3, -9), fontsize=6, color="tab:orange")
    ax.set_title(title)
    ax.set_xlabel("x (m)")
    ax.set_ylabel("y (m)" if j == 1 else "z (m)")
    ax.set_aspect("equal", adjustable="datalim")
    ax.grid(True, alpha=0.3)


def plot_array(mics, list_cfg, path):
    mic_pos = mics.mic_positions()
    src_pos = list_cfg.source_positions() if list_cfg.sources else np.zeros((0, 3))
    fig, axes = plt.subplots(1, 3, figsize=(16, 5.5))
    _scatter_view(axes[0], mics, mic_pos, src_pos, 0, 1, "top view (x, y); sources numbered", True)
    axes[0].legend(loc="upper right", fontsize=8)
    _scatter_view(axes[1], mics, mic_pos, np.zeros((0, 3)), 0, 1, "the array close up (x, y), micIndex", False)
    span = max(np.ptp(mic_pos[:, :2], axis=0).max() if len(mic_pos) else 0.0, 0.01)
    centre = mic_pos[:, :2].mean(axis=0) if len(mic_pos) else np.zeros(2)
    axes[1].set_xlim(centre[0] - 0.75 * span, centre[0] + 0.75 * span)
    axes[1].set_ylim(centre[1] - 0.75 * span, centre[1] + 0.75 * span)
    _scatter_view(axes[2], mics, mic_pos, src_pos, 0, 2, "side view (x, z)", False)
    fig.suptitle("Microphone array and source positions")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def plot_magnitude(tf_file, source_pos, mic, mic_index, path):
    az = azimuth_deg(source_pos)
    order = np.argsort(az)
    freqs = tf_file.frequencies_hz()
    mag = np.abs(tf_file.tf[order, mic, :]).astype(np.float64)
    with np.errstate(divide="ignore"):
        db = np.maximum(20 * np.log10(mag), FLOOR_DB)
    finite = db[db > FLOOR_DB]
    # Colours span the bulk of the values, at least 6 dB, so that a flat
    # free-field pattern and a rough room both show their structure.
    low, high = (np.percentile(finite, [2, 99.5]) if finite.size else (FLOOR_DB, 0.0))
    low = min(low, high - 6.0)
    fig, ax = plt.subplots(figsize=(9, 5))
    mesh = ax.pcolormesh(az[order], freqs / 1000.0, db.T, shading="nearest", cmap="viridis",
                         vmin=low, vmax=high)
    fig.colorbar(mesh, ax=ax, label="magnitude (dB)")
    ax.set_xlabel("source azimuth (degrees)")
    ax.set_ylabel("frequency (kHz)")
    ax.set_title(f"{tf_file.kind.upper()} magnitude at microphone {mic_index}")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def plot_phase(tf_file, source_pos, mic_pos, mic, ref, indices, speed_mps, path):
    az = azimuth_deg(source_pos)
    order = np.argsort(az)
    freqs = tf_file.frequencies_hz()
    measured = np.angle(tf_file.tf[:, mic, :] * np.conj(tf_file.tf[:, ref, :]))
    predicted = predicted_phase(tf_file, source_pos, mic_pos, mic, ref, speed_mps)
    error = wrap(measured - predicted)

    fig, axes = plt.subplots(1, 2, figsize=(13, 5))
    ax = axes[0]
    nyquist = tf_file.sampling_rate / 2.0
    picks = [f for f in (500.0, 1000.0, 2000.0, 4000.0) if f < nyquist] or [freqs[len(freqs) // 2]]
    for f, colour in zip(picks, ["tab:blue", "tab:orange", "tab:green", "tab:red"]):
        k = int(np.argmin(np.abs(freqs - f)))
        ax.plot(*break_at_wraps(az[order], wrap(predicted[order, k])), color=colour, lw=1,
                label=f"{freqs[k]:.0f} Hz geometry")
        ax.plot(az[order], measured[order, k], "o", ms=3, color=colour, label=f"{freqs[k]:.0f} Hz file")
    ax.set_xlabel("source azimuth (degrees)")
    ax.set_ylabel("phase (rad)")
    ax.set_ylim(-np.pi * 1.05, np.pi * 1.05)
    ax.set_title(f"phase of microphone {indices[mic]} relative to {indices[ref]}")
    ax.legend(fontsize=7, ncol=2, loc="lower right")
    ax.grid(True, alpha=0.3)

    ax = axes[1]
    mesh = ax.pcolormesh(az[order], freqs / 1000.0, error[order].T, shading="nearest", cmap="RdBu_r",
                         vmin=-np.pi / 4, vmax=np.pi / 4)
    fig.colorbar(mesh, ax=ax, label="file minus geometry (rad)")
    ax.set_xlabel("source azimuth (degrees)")
    ax.set_ylabel("frequency (kHz)")
    ax.set_title("phase error")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--mic", required=True, help="microphone-array location file")
    p.add_argument("--list", required=True, help="TSP list or impulse-response list file")
    p.add_argument("--tf", required=True, action="append", help="transfer-function file (may be repeated)")
    p.add_argument("--prefix", action="append", help="text put before the file names of each --tf, in order")
    p.add_argument("--out-dir", required=True, help="directory for the PNG files")
    p.add_argument("--mic-ordinal", type=int, default=1,
                   help="microphone (position in the array file) to draw; default 1")
    p.add_argument("--reference", type=int, default=0, help="reference microphone for the phase; default 0")
    p.add_argument("--speed-of-sound", type=float, default=343.0, help="metres per second")
    args = p.parse_args(argv)
    prefixes = args.prefix or [""] * len(args.tf)
    if len(prefixes) != len(args.tf):
        p.error(f"give one --prefix per --tf ({len(args.tf)}), found {len(prefixes)}")

    mics = veskio2py.read_config(args.mic)
    list_cfg = veskio2py.read_config(args.list)
    mic_pos = mics.mic_positions()
    tf_files = []
    for path in args.tf:
        tf_file = veskio2py.read_tf(path)
        if tf_file.tf is None or tf_file.positions is None:
            p.error(f"{path}: no transfer functions or source positions in the file")
        num_mics = tf_file.tf.shape[1]
        if len(mic_pos) != num_mics:
            p.error(f"{args.mic} has {len(mic_pos)} microphones, {path} has {num_mics}")
        for name, value in (("--mic-ordinal", args.mic_ordinal), ("--reference", args.reference)):
            if not 0 <= value < num_mics:
                p.error(f"{name} must lie in 0 .. {num_mics - 1}, found {value}")
        tf_files.append(tf_file)

    os.makedirs(args.out_dir, exist_ok=True)
    written = [os.path.join(args.out_dir, "array.png")]
    plot_array(mics, list_cfg, written[0])
    for tf_file, prefix in zip(tf_files, prefixes):
        source_pos = tf_file.positions.astype(np.float64)
        magnitude = os.path.join(args.out_dir, prefix + "magnitude.png")
        phase = os.path.join(args.out_dir, prefix + "phase.png")
        plot_magnitude(tf_file, source_pos, args.mic_ordinal, mics.mic_indices()[args.mic_ordinal], magnitude)
        plot_phase(tf_file, source_pos, mic_pos, args.mic_ordinal, args.reference, mics.mic_indices(),
                   args.speed_of_sound, phase)
        written += [magnitude, phase]
    for w in written:
        print(w)
    return 0


if __name__ == "__main__":
    sys.exit(main())
