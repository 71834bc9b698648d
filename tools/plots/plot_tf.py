#!/usr/bin/env python3
"""Draws PNG figures of a microphone array, its source positions and its
transfer functions, and prints how far each file's phase lies from the free
field its positions predict.

    plot_tf.py --mic mic.xml --list list.xml --tf tf.bin [--tf more.bin ...] --out-dir DIR

writes DIR/array.png (top view, the array close up, side view) and, for each
TF file, DIR/PREFIXmagnitude.png (|TF| in dB over source azimuth x frequency
for one microphone, one panel per ring of the grid) and DIR/PREFIXphase.png
(phase of that microphone relative to a reference microphone against the
free-field prediction, per ring, and the phase error of every microphone).
PREFIX is the matching --prefix, or empty. Microphones are named by their
micIndex.
"""

import argparse
import os
import sys

# The reader beside this script: tools/python in the source tree, or where
# `cmake --install` puts it when this runs as PREFIX/bin/vesk-plot-tf.
_HERE = os.path.dirname(os.path.realpath(__file__))
for _dir in (os.path.join(_HERE, "..", "python"), os.path.join(_HERE, "..", "lib", "python3", "dist-packages")):
    if os.path.isfile(os.path.join(_dir, "veskio2py", "__init__.py")):
        sys.path.insert(0, os.path.normpath(_dir))
        break
from plot_support import load_plotting  # noqa: E402

np, plt = load_plotting(__doc__)
import veskio2py  # noqa: E402
from veskio2py import geometry  # noqa: E402

FLOOR_DB = -120.0
PICK_HZ = (500.0, 1000.0, 2000.0, 4000.0)


def azimuth_deg(points):
    """Azimuth of each point in degrees, 0 ... 360."""
    return np.degrees(np.arctan2(points[:, 1], points[:, 0])) % 360.0


def elevation_deg(points):
    return np.degrees(np.arctan2(points[:, 2], np.hypot(points[:, 0], points[:, 1])))


class Ring:
    """The sources at one elevation (or height), sorted by azimuth."""

    def __init__(self, label, sources, azimuths):
        self.label = label
        self.sources = sources
        self.azimuths = azimuths


def find_rings(source_pos, axis, select):
    """Splits the sources into rings of equal elevation (axis "elevation",
    degrees) or height ("height", metres); with `select`, keeps the ring
    nearest to it. Raises ValueError when no ring lies near `select`."""
    if axis == "height":
        value, unit, tolerance = source_pos[:, 2], " m", 0.005
        key = np.round(value, 3)
    else:
        value, unit, tolerance = elevation_deg(source_pos), "\u00b0", 0.5
        key = np.round(value, 2)
    az = azimuth_deg(source_pos)
    levels = np.unique(key)
    if select is not None:
        nearest = levels[np.argmin(np.abs(levels - select))] if len(levels) else None
        if nearest is None or abs(nearest - select) > tolerance:
            found = ", ".join(f"{v:g}" for v in levels)
            raise ValueError(f"no ring at {axis} {select:g}{unit}; the file's rings: {found}")
        levels = [nearest]
    rings = []
    for level in levels:
        members = np.nonzero(key == level)[0]
        members = members[np.argsort(az[members], kind="stable")]
        rings.append(Ring(f"{axis} {level:g}{unit}", members, az[members]))
    return rings


def default_axis(source_pos):
    """Height for a cylinder (every source at one horizontal distance, more
    than one height), elevation otherwise."""
    horizontal = np.hypot(source_pos[:, 0], source_pos[:, 1])
    if len(source_pos) and np.ptp(horizontal) < 1e-3 and np.ptp(source_pos[:, 2]) > 1e-3:
        return "height"
    return "elevation"


def break_at_wraps(x, phase):
    """NaN between neighbours that jump by more than pi, so a drawn line
    does not cross the plot at a wrap."""
    jumps = np.nonzero(np.abs(np.diff(phase)) > np.pi)[0] + 1
    return np.insert(x.astype(float), jumps, np.nan), np.insert(phase.astype(float), jumps, np.nan)


def _scatter_view(ax, mics, mic_pos, src_pos, i, j, title, label_sources, label_mics):
    if len(src_pos):
        ax.scatter(src_pos[:, i], src_pos[:, j], s=12, c="tab:orange", label=f"{len(src_pos)} sources")
    ax.scatter(mic_pos[:, i], mic_pos[:, j], s=30, c="tab:blue", marker="s", label=f"{len(mic_pos)} microphones")
    if label_mics and len(mic_pos):
        # Each label outward from the array's centre, so neighbours' labels
        # stand apart instead of on top of each other.
        centre = mic_pos[:, [i, j]].mean(axis=0)
        for idx, p in zip(mics.mic_indices(), mic_pos):
            out = p[[i, j]] - centre
            norm = np.hypot(*out)
            dx, dy = (out / norm * 10.0) if norm > 1e-9 else (6.0, 6.0)
            ax.annotate(str(idx), (p[i], p[j]), textcoords="offset points", xytext=(dx, dy), fontsize=7,
                        ha="center", va="center")
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


def plot_array(mics, mic_path, list_cfg, list_path, path):
    mic_pos = mics.mic_positions()
    src_pos = list_cfg.source_positions() if list_cfg.sources else np.zeros((0, 3))
    fig, axes = plt.subplots(1, 3, figsize=(16, 5.5))
    _scatter_view(axes[0], mics, mic_pos, src_pos, 0, 1, "top view (x, y); sources numbered", True, False)
    axes[0].legend(loc="upper right", fontsize=8)
    _scatter_view(axes[1], mics, mic_pos, np.zeros((0, 3)), 0, 1, "the array close up (x, y), micIndex", False,
                  True)
    span = max(np.ptp(mic_pos[:, :2], axis=0).max() if len(mic_pos) else 0.0, 0.01)
    centre = mic_pos[:, :2].mean(axis=0) if len(mic_pos) else np.zeros(2)
    axes[1].set_xlim(centre[0] - 0.75 * span, centre[0] + 0.75 * span)
    axes[1].set_ylim(centre[1] - 0.75 * span, centre[1] + 0.75 * span)
    _scatter_view(axes[2], mics, mic_pos, src_pos, 0, 2, "side view (x, z)", False, False)
    fig.suptitle(f"Microphone array {mic_path} and source positions {list_path}")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def colour_range_db(db, tf_file):
    """Colour limits over the bulk of the values, at least 6 dB wide, so a
    flat free-field pattern and a rough room both show their structure. The
    Nyquist bin and exactly-zero values (NaN here) do not count."""
    idx = tf_file.bin_indices.astype(np.int64)
    values = db[..., 2 * idx != tf_file.fft_length]
    values = values[np.isfinite(values)]
    if not values.size:
        return FLOOR_DB, 0.0
    low, high = np.percentile(values, [2, 99.5])
    return min(low, high - 6.0), high


def plot_magnitude(tf_file, tf_path, rings, mic, mic_index, path, label=""):
    freqs = tf_file.frequencies_hz()
    mag = np.abs(tf_file.tf[:, mic, :]).astype(np.float64)
    with np.errstate(divide="ignore"):
        db = np.where(mag > 0, np.maximum(20 * np.log10(np.where(mag > 0, mag, 1.0)), FLOOR_DB), np.nan)
    shown = np.concatenate([r.sources for r in rings])
    low, high = colour_range_db(db[shown], tf_file)
    fig, axes = plt.subplots(len(rings), 1, figsize=(9, 1.0 + 3.6 * len(rings)), squeeze=False,
                             layout="constrained")
    for ax, ring in zip(axes[:, 0], rings):
        mesh = ax.pcolormesh(ring.azimuths, freqs / 1000.0, db[ring.sources].T, shading="nearest",
                             cmap="viridis", vmin=low, vmax=high)
        fig.colorbar(mesh, ax=ax, label="magnitude (dB re 1)")
        ax.set_xlabel("source azimuth (degrees)")
        ax.set_ylabel("frequency (kHz)")
        ax.set_title(f"{ring.label}: {len(ring.sources)} sources")
    fig.suptitle(f"{label}{tf_path}: {tf_file.kind.upper()} |TF| at micIndex {mic_index}")
    fig.savefig(path, dpi=100)
    plt.close(fig)


# The sign convention with its formulas, as matplotlib renders them.
SIGN_CONVENTION_RENDERED = (r"M2PG holds $H(f) = \sum_n h[n]\,e^{-i 2\pi f n / f_s}$: a later arrival has a more "
                            r"negative phase; GTF holds $\overline{H(f)}$: a later arrival has a more positive phase. "
                            r"Relative phase $= \arg(H_\mathrm{mic}\,\overline{H_\mathrm{ref}})$.")


def per_mic_error_deg(err, freqs, band_hz, shown, others):
    """|phase error| in degrees of each microphone in `others` over the
    sources `shown` and the band: (medians, worsts), NaN without values."""
    band = (freqs >= band_hz[0]) & (freqs <= band_hz[1])
    per_mic = np.abs(np.degrees(err[np.ix_(shown, others, np.nonzero(band)[0])]))
    medians, worsts = [], []
    with np.errstate(all="ignore"):
        for i in range(len(others)):
            finite = np.any(np.isfinite(per_mic[:, i]))
            medians.append(np.nanmedian(per_mic[:, i]) if finite else np.nan)
            worsts.append(np.nanmax(per_mic[:, i]) if finite else np.nan)
    return np.array(medians), np.array(worsts)


def worst_median_mic(medians, others, indices):
    """(micIndex, median degrees) of the microphone with the largest median, or None."""
    if not np.any(np.isfinite(medians)):
        return None
    k = int(np.nanargmax(medians))
    return indices[others[k]], float(medians[k])


def describe_summary(tf_path, summary, ref_index, indices, band_hz, num_sources, worst_mic=None):
    if summary is None:
        return f"{tf_path}: no phase to compare between {band_hz[0]:g} and {band_hz[1]:g} Hz"
    s, m, f = summary["worst_at"]
    text = (f"{tf_path}: phase vs free field, relative to micIndex {ref_index}, {len(indices) - 1} microphones, "
            f"{num_sources} sources, {band_hz[0]:g}-{band_hz[1]:g} Hz: "
            f"median {summary['median_deg']:.3g} deg ({summary['median_us']:.3g} \u00b5s), "
            f"worst {summary['worst_deg']:.3g} deg ({summary['worst_us']:.3g} \u00b5s); "
            f"worst phase at micIndex {indices[m]}, source {s}, {f:.0f} Hz")
    if worst_mic is not None:
        text += f"; largest median at micIndex {worst_mic[0]}: {worst_mic[1]:.3g} deg"
    return text


def plot_phase(tf_file, tf_path, rings, err, mic_pos, mic, ref, indices, speed_mps, band_hz, summary, path,
               label=""):
    freqs = tf_file.frequencies_hz()
    tf = tf_file.tf
    measured = np.angle(tf[:, mic, :] * np.conj(tf[:, ref, :]))
    predicted = geometry.predicted_relative_phase(tf_file.kind, freqs, tf_file.positions,
                                                  mic_pos, ref, speed_mps)[:, mic, :]
    nyquist = tf_file.sampling_rate / 2.0
    picks = [f for f in PICK_HZ if f < nyquist] or [freqs[len(freqs) // 2]]

    # One colour scale for every ring: the bulk of this microphone's errors
    # in the summary's band (99th percentile, at least 1 degree), arrows when
    # values go beyond it.
    shown_all = np.concatenate([r.sources for r in rings])
    in_band = np.nonzero((freqs >= band_hz[0]) & (freqs <= band_hz[1]))[0]
    err_deg = np.abs(np.degrees(err[np.ix_(shown_all, [mic], in_band)]))
    finite = err_deg[np.isfinite(err_deg)]
    limit = max(float(np.percentile(finite, 99)), 1.0) if finite.size else 45.0
    every = np.abs(np.degrees(err[shown_all, mic, :]))
    beyond = bool(np.any(every[np.isfinite(every)] > limit))

    fig = plt.figure(figsize=(14, 1.6 + 4.2 * (len(rings) + 1)), layout="constrained")
    grid = fig.add_gridspec(len(rings) + 1, 2)
    for row, ring in enumerate(rings):
        ax = fig.add_subplot(grid[row, 0])
        for f, colour in zip(picks, ["tab:blue", "tab:orange", "tab:green", "tab:red"]):
            k = int(np.argmin(np.abs(freqs - f)))
            ax.plot(*break_at_wraps(ring.azimuths, geometry.wrap(predicted[ring.sources, k])), color=colour,
                    lw=1, label=f"{freqs[k]:.0f} Hz free field")
            ax.plot(ring.azimuths, measured[ring.sources, k], "o", ms=3, color=colour,
                    label=f"{freqs[k]:.0f} Hz file")
        ax.set_xlabel("source azimuth (degrees)")
        ax.set_ylabel("phase (rad)")
        ax.set_ylim(-np.pi * 1.05, np.pi * 1.05)
        ax.set_title(f"{ring.label}: phase of micIndex {indices[mic]} relative to {indices[ref]}")
        ax.legend(fontsize=7, ncol=2, loc="lower right")
        ax.grid(True, alpha=0.3)

        ax = fig.add_subplot(grid[row, 1])
        mesh = ax.pcolormesh(ring.azimuths, freqs / 1000.0, np.degrees(err[ring.sources, mic, :]).T,
                             shading="nearest", cmap="RdBu_r", vmin=-limit, vmax=limit)
        fig.colorbar(mesh, ax=ax, label="file minus free field (degrees)", extend="both" if beyond else "neither")
        ax.set_xlabel("source azimuth (degrees)")
        ax.set_ylabel("frequency (kHz)")
        ax.set_title(f"{ring.label}: phase error of micIndex {indices[mic]}")

    # Every microphone against the reference, over the rings shown.
    ax = fig.add_subplot(grid[len(rings), :])
    shown = np.concatenate([r.sources for r in rings])
    others = [m for m in range(len(indices)) if m != ref]
    medians, worsts = per_mic_error_deg(err, freqs, band_hz, shown, others)
    worst_mic = worst_median_mic(medians, others, indices)
    x = np.arange(len(others))
    ax.bar(x - 0.2, medians, 0.4, label="median", color="tab:blue")
    ax.bar(x + 0.2, worsts, 0.4, label="worst", color="tab:red")
    ax.set_xticks(x, [str(indices[m]) for m in others])
    ax.set_xlabel(f"micIndex (relative to micIndex {indices[ref]})")
    ax.set_ylabel("|phase error| (degrees)")
    ax.legend(fontsize=8, loc="upper left")
    ax.grid(True, alpha=0.3, axis="y")
    if summary is None:
        text = "no phase to compare in the band"
    else:
        text = (f"all microphones, {band_hz[0]:g}-{band_hz[1]:g} Hz: median {summary['median_deg']:.3g}\u00b0 "
                f"({summary['median_us']:.3g} \u00b5s), worst {summary['worst_deg']:.3g}\u00b0 "
                f"({summary['worst_us']:.3g} \u00b5s)")
        if worst_mic is not None:
            text += f"; largest median: micIndex {worst_mic[0]}, {worst_mic[1]:.3g}\u00b0"
    ax.set_title(f"phase error of every microphone: {text}", fontsize=9)

    fig.suptitle(f"{label}{tf_path}: {tf_file.kind.upper()} phase against the free field "
                 f"(speed of sound {speed_mps:g} m/s)")
    fig.supxlabel(SIGN_CONVENTION_RENDERED, fontsize=8)
    fig.savefig(path, dpi=100)
    plt.close(fig)


def require_finite(parser, path, what, positions):
    """Stops with a usage error naming the first non-finite position."""
    bad = np.flatnonzero(~np.all(np.isfinite(np.asarray(positions, dtype=np.float64).reshape(len(positions), -1)), axis=1))
    if bad.size:
        parser.error(f"{path}: {what} {bad[0]} has a position that is not finite")


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--mic", required=True, help="microphone-array location file")
    p.add_argument("--list", required=True, help="TSP list or impulse-response list file")
    p.add_argument("--tf", required=True, action="append", help="transfer-function file (may be repeated)")
    p.add_argument("--prefix", action="append", help="text put before the file names of each --tf, in order")
    p.add_argument("--out-dir", required=True, help="directory for the PNG files")
    p.add_argument("--mic-index", type=int, help="micIndex of the microphone to draw; default the second in the file")
    p.add_argument("--reference-index", type=int,
                   help="micIndex of the phase reference; default the first in the file")
    ring = p.add_mutually_exclusive_group()
    ring.add_argument("--elevation", type=float, help="draw only the ring at this elevation (degrees)")
    ring.add_argument("--height", type=float, help="draw only the ring at this height (metres)")
    p.add_argument("--band-hz", type=float, nargs=2, metavar=("LOW", "HIGH"),
                   help="band of the phase-error summary; default 200 Hz to 0.9 of the Nyquist frequency")
    p.add_argument("--speed-of-sound", type=float, default=343.0, help="metres per second")
    args = p.parse_args(argv)
    prefixes = args.prefix or [""] * len(args.tf)
    if len(prefixes) != len(args.tf):
        p.error(f"give one --prefix per --tf ({len(args.tf)}), found {len(prefixes)}")

    mics = veskio2py.read_config(args.mic)
    list_cfg = veskio2py.read_config(args.list)
    mic_pos = mics.mic_positions()
    # A position the readers take but no geometry can use: refused before any figure is drawn.
    require_finite(p, args.mic, "microphone", mic_pos)
    require_finite(p, args.list, "source", list_cfg.source_positions())
    indices = mics.mic_indices()
    if len(indices) < 2:
        p.error(f"{args.mic} has {len(indices)} microphones; the phase needs two")
    ordinals = {}
    for name, value, default in (("--mic-index", args.mic_index, 1), ("--reference-index", args.reference_index, 0)):
        if value is None:
            ordinals[name] = default
        elif value in indices:
            ordinals[name] = indices.index(value)
        else:
            p.error(f"{name} {value} is not a micIndex of {args.mic} ({', '.join(map(str, indices))})")
    mic, ref = ordinals["--mic-index"], ordinals["--reference-index"]

    tf_files = []
    for path in args.tf:
        tf_file = veskio2py.read_tf(path)
        if tf_file.tf is None or tf_file.positions is None:
            p.error(f"{path}: no transfer functions or source positions in the file")
        require_finite(p, path, "source", tf_file.positions)
        num_mics = tf_file.tf.shape[1]
        if len(mic_pos) != num_mics:
            p.error(f"{args.mic} has {len(mic_pos)} microphones, {path} has {num_mics}")
        axis = "height" if args.height is not None else (
            "elevation" if args.elevation is not None else default_axis(tf_file.positions))
        try:
            rings = find_rings(tf_file.positions.astype(np.float64), axis,
                               args.height if args.height is not None else args.elevation)
        except ValueError as e:
            p.error(f"{path}: {e}")
        tf_files.append((tf_file, path, rings))

    os.makedirs(args.out_dir, exist_ok=True)
    written = [os.path.join(args.out_dir, "array.png")]
    plot_array(mics, args.mic, list_cfg, args.list, written[0])
    for (tf_file, path, rings), prefix in zip(tf_files, prefixes):
        band_hz = tuple(args.band_hz) if args.band_hz else (200.0, 0.45 * tf_file.sampling_rate)
        err = geometry.phase_error(tf_file, mic_pos, ref, args.speed_of_sound)
        shown = np.concatenate([r.sources for r in rings])
        summary = geometry.summarize_error(err, tf_file.frequencies_hz(), band_hz, ref, shown)
        others = [m for m in range(len(indices)) if m != ref]
        medians, _ = per_mic_error_deg(err, tf_file.frequencies_hz(), band_hz, shown, others)
        print(describe_summary(path, summary, indices[ref], indices, band_hz, len(shown),
                               worst_median_mic(medians, others, indices)))
        label = f"{prefix.rstrip('-_ ')}: " if prefix else ""
        magnitude = os.path.join(args.out_dir, prefix + "magnitude.png")
        phase = os.path.join(args.out_dir, prefix + "phase.png")
        plot_magnitude(tf_file, path, rings, mic, indices[mic], magnitude, label)
        plot_phase(tf_file, path, rings, err, mic_pos, mic, ref, indices, args.speed_of_sound, band_hz,
                   summary, phase, label)
        written += [magnitude, phase]
    for w in written:
        print(w)
    return 0


if __name__ == "__main__":
    sys.exit(main())
