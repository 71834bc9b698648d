#!/usr/bin/env python3
"""Draws PNG figures of a microphone array, its source positions and its
transfer functions.

    plot_tf.py --mic mic.xml --list list.xml --tf tf.bin --out-dir DIR

writes DIR/array.png (top and side view), DIR/magnitude.png (|TF| in dB over
source azimuth x frequency for one microphone) and DIR/phase.png (phase of one
microphone relative to a reference microphone against the free-field
prediction from the geometry).
"""

import argparse
import os
import sys

import numpy as np
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
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


def plot_array(mics, list_cfg, path):
    mic_pos = mics.mic_positions()
    src_pos = list_cfg.source_positions() if list_cfg.sources else np.zeros((0, 3))
    fig, axes = plt.subplots(1, 2, figsize=(11, 5))
    for ax, (i, j, title) in zip(axes, [(0, 1, "top view (x, y)"), (0, 2, "side view (x, z)")]):
        ax.scatter(src_pos[:, i], src_pos[:, j], s=12, c="tab:orange", label=f"{len(src_pos)} sources")
        ax.scatter(mic_pos[:, i], mic_pos[:, j], s=30, c="tab:blue", marker="s", label=f"{len(mic_pos)} microphones")
        for idx, p in zip(mics.mic_indices(), mic_pos):
            ax.annotate(str(idx), (p[i], p[j]), textcoords="offset points", xytext=(4, 4), fontsize=7)
        if len(src_pos):
            step = max(1, len(src_pos) // 12)
            for s in range(0, len(src_pos), step):
                ax.annotate(str(s), (src_pos[s, i], src_pos[s, j]), textcoords="offset points",
                            xytext=(3, -9), fontsize=6, color="tab:orange")
        ax.set_title(title)
        ax.set_xlabel("x (m)")
        ax.set_ylabel("y (m)" if j == 1 else "z (m)")
        ax.set_aspect("equal", adjustable="datalim")
        ax.grid(True, alpha=0.3)
        ax.legend(loc="upper right", fontsize=8)
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
    top = finite.max() if finite.size else 0.0
    fig, ax = plt.subplots(figsize=(9, 5))
    mesh = ax.pcolormesh(az[order], freqs / 1000.0, db.T, shading="nearest", cmap="viridis",
                         vmin=top - 40, vmax=top)
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
        ax.plot(az[order], wrap(predicted[order, k]), color=colour, lw=1, label=f"{freqs[k]:.0f} Hz geometry")
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
    p.add_argument("--tf", required=True, help="transfer-function file")
    p.add_argument("--out-dir", required=True, help="directory for the PNG files")
    p.add_argument("--mic-ordinal", type=int, default=1,
                   help="microphone (position in the array file) to draw; default 1")
    p.add_argument("--reference", type=int, default=0, help="reference microphone for the phase; default 0")
    p.add_argument("--speed-of-sound", type=float, default=343.0, help="metres per second")
    p.add_argument("--prefix", default="", help="text put before each file name")
    args = p.parse_args(argv)

    mics = veskio2py.read_config(args.mic)
    list_cfg = veskio2py.read_config(args.list)
    tf_file = veskio2py.read_tf(args.tf)
    if tf_file.tf is None or tf_file.positions is None:
        p.error(f"{args.tf}: no transfer functions or source positions in the file")
    mic_pos = mics.mic_positions()
    num_mics = tf_file.tf.shape[1]
    if len(mic_pos) != num_mics:
        p.error(f"{args.mic} has {len(mic_pos)} microphones, {args.tf} has {num_mics}")
    for name, value in (("--mic-ordinal", args.mic_ordinal), ("--reference", args.reference)):
        if not 0 <= value < num_mics:
            p.error(f"{name} must lie in 0 .. {num_mics - 1}, found {value}")
    source_pos = tf_file.positions.astype(np.float64)
    os.makedirs(args.out_dir, exist_ok=True)
    out = lambda name: os.path.join(args.out_dir, args.prefix + name)  # noqa: E731
    written = [out("array.png"), out("magnitude.png"), out("phase.png")]
    plot_array(mics, list_cfg, written[0])
    plot_magnitude(tf_file, source_pos, args.mic_ordinal, mics.mic_indices()[args.mic_ordinal], written[1])
    plot_phase(tf_file, source_pos, mic_pos, args.mic_ordinal, args.reference, mics.mic_indices(),
               args.speed_of_sound, written[2])
    for w in written:
        print(w)
    return 0


if __name__ == "__main__":
    sys.exit(main())
