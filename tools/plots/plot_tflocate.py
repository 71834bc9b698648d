#!/usr/bin/env python3
"""Draws the figures of a tflocate report as PNG.

    vesk-plot-tflocate --json tflocate.json --out-dir DIR    (tools/plots/plot_tflocate.py)

`tflocate --plot DIR` writes DIR/tflocate.json (its --json report, with each
block's spectrum over the file's directions and the truth) and runs this
script. For a recording it writes DIR/tflocate-spectrum.png: the spectrum
over azimuth (the largest over elevation) and time, the blocks' peaks and
the true directions marked, one panel per TF file. For a self-test it
writes DIR/tflocate-selftest.png: the error per direction against the
distance to the nearest other direction, the ambiguous pairs marked.
Prints the names of the files it wrote.
"""

import argparse
import json
import os
import sys

# The shared loader beside this script, or where `cmake --install` puts it.
sys.path[1:1] = [os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "lib", "python3", "dist-packages")]
from plot_support import load_plotting  # noqa: E402

np = plt = None  # loaded after the arguments, so --help needs neither


def spectrum_panel(ax, run, truth):
    points = np.array(run["points"], dtype=float).reshape(-1, 2)
    azimuths = np.unique(np.round(points[:, 0], 3))
    column = np.searchsorted(azimuths, np.round(points[:, 0], 3))
    blocks = run["blocks"]
    image = np.zeros((len(azimuths), len(blocks)))
    for b, block in enumerate(blocks):
        values = np.array(block["spectrum"], dtype=float)
        np.maximum.at(image[:, b], column, values)
    edges = [blocks[0]["startS"]] + [b["endS"] for b in blocks] if blocks else [0, 1]
    ax.imshow(image, aspect="auto", origin="lower", cmap="viridis", interpolation="nearest",
              extent=[edges[0], edges[-1], azimuths[0], azimuths[-1]])
    for block in blocks:
        centre = 0.5 * (block["startS"] + block["endS"])
        for peak in block["peaks"]:
            ax.plot(centre, peak["azimuthDeg"], "w.", markersize=4)
    for az, _ in truth:
        ax.axhline(az, color="r", linestyle="--", linewidth=1)
    ax.set_title("%s (%s)" % (os.path.basename(run["tf"]), run["method"]))
    ax.set_xlabel("time (s)")
    ax.set_ylabel("azimuth (deg)")


def plot_recording(report, out_dir):
    runs = [report] + ([report["compare"]] if "compare" in report else [])
    fig, axes = plt.subplots(len(runs), 1, figsize=(11, 4 * len(runs)), squeeze=False)
    for ax, run in zip(axes[:, 0], runs):
        spectrum_panel(ax, run, report.get("truth", []))
    fig.tight_layout()
    path = os.path.join(out_dir, "tflocate-spectrum.png")
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


def plot_self_test(report, out_dir):
    dirs = report["directions"]
    fig, ax = plt.subplots(figsize=(11, 4))
    x = np.arange(len(dirs))
    ax.bar(x, [d["errorDeg"] for d in dirs], color="tab:blue", label="error (deg)")
    ax.plot(x, [d["nearestOtherDeg"] for d in dirs], "k_", label="nearest other direction (deg)")
    for a in report["ambiguities"]:
        ax.axvline(a["source"], color="r", alpha=0.3)
    ax.set_xlabel("source")
    ax.set_ylabel("degrees")
    ax.set_title("self-test of %s: %d ambiguities (red)" % (os.path.basename(report["tf"]), len(report["ambiguities"])))
    ax.legend()
    fig.tight_layout()
    path = os.path.join(out_dir, "tflocate-selftest.png")
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


def main():
    parser = argparse.ArgumentParser(description="draw a tflocate report")
    parser.add_argument("--json", required=True)
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args()
    global np, plt
    np, plt = load_plotting(__doc__)
    with open(args.json) as f:
        report = json.load(f)
    path = plot_self_test(report, args.out_dir) if "directions" in report else plot_recording(report, args.out_dir)
    print(path)


if __name__ == "__main__":
    main()
