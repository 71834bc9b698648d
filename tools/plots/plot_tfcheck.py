#!/usr/bin/env python3
"""Draws the figures of a tfcheck report as PNG.

    vesk-plot-tfcheck --json tfcheck.json --out-dir DIR      (tools/plots/plot_tfcheck.py)

The JSON is what `tfcheck --json` prints (`tfcheck --plot DIR` writes it to
DIR/tfcheck.json and runs this script). For a transfer-function check it
writes DIR/tfcheck-residuals.png: the residual delay (measured - geometric,
microseconds) of every source and microphone, each microphone's median and
worst residual, and each source's RMS residual with the sources that stand
out marked. For a recordings check it writes DIR/tfcheck-recordings.png: the
SNR of every recording and channel, the level and the clock drift per
recording, and DIR/tfcheck-band-snr.png: the SNR after averaging per octave
band over the directions (the median over each recording's channels) and,
for a report made with --tf, the share of each transfer function's bins
below the SNR limit. Prints the names of the files it wrote.
"""

import argparse
import json
import os
import sys

# The shared loader beside this script, or where `cmake --install` puts it.
sys.path[1:1] = [os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "lib", "python3", "dist-packages")]
from plot_support import load_plotting  # noqa: E402

np, plt = load_plotting(__doc__)


def plot_tf(report, out_dir):
    residual = np.array(report["residualUs"], dtype=float)  # [source, mic]
    mics = report["microphones"]
    sources = report["sources"]
    labels = [m["label"].replace("micIndex ", "").replace("channel ", "") for m in mics]
    mic_word = "micIndex" if mics and mics[0]["label"].startswith("micIndex") else "microphone (file order; --mic names micIndex)"
    fig, axes = plt.subplots(3, 1, figsize=(12, 11), gridspec_kw={"height_ratios": [3, 1.3, 1.3]})

    ax = axes[0]
    limit = max(float(np.nanmax(np.abs(residual))) if residual.size else 1.0, 1e-3)
    image = ax.imshow(residual.T, aspect="auto", cmap="RdBu_r", vmin=-limit, vmax=limit, interpolation="nearest")
    fig.colorbar(image, ax=ax, label="residual (\u00b5s)")
    ax.set_yticks(range(len(labels)))
    ax.set_yticklabels(labels, fontsize=7)
    ax.set_ylabel(mic_word)
    ax.set_xlabel("source (position in the file)")
    ax.set_title(f"{report['file']}: measured - geometric delay ({report['verdict']})")

    ax = axes[1]
    x = np.arange(len(mics))
    ax.bar(x - 0.2, [m["medianUs"] for m in mics], 0.4, label="median |residual|")
    ax.bar(x + 0.2, [m["worstUs"] for m in mics], 0.4, label="worst |residual|")
    for i, m in enumerate(mics):
        if m["verdict"] != "ok":
            ax.annotate("suspect", (i, m["worstUs"]), ha="center", va="bottom", fontsize=7, color="tab:red")
    ax.set_xticks(x)
    ax.set_xticklabels(labels, fontsize=7)
    ax.set_xlabel(mic_word)
    ax.set_ylabel("\u00b5s")
    ax.set_title(f"{report['file']}: per microphone")
    ax.legend(fontsize=8)
    ax.grid(True, axis="y", alpha=0.3)

    ax = axes[2]
    rms = np.array([s["rmsUs"] for s in sources])
    ax.plot(rms, ".-", lw=0.8, label="RMS residual")
    out = [i for i, s in enumerate(sources) if s["standsOut"]]
    if out:
        ax.plot(out, rms[out], "o", color="tab:red", label="stands out")
    ax.set_xlabel("source (position in the file)")
    ax.set_ylabel("\u00b5s")
    ax.set_title(f"{report['file']}: per source")
    ax.legend(fontsize=8)
    ax.grid(True, alpha=0.3)

    fig.tight_layout()
    path = os.path.join(out_dir, "tfcheck-residuals.png")
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return [path]


def plot_recordings(report, out_dir):
    recordings = report["recordings"]
    names = [r["name"] for r in recordings]
    channels = max((len(r["channels"]) for r in recordings), default=0)
    snr = np.full((len(recordings), channels), np.nan)
    for i, r in enumerate(recordings):
        for k, c in enumerate(r["channels"]):
            if c.get("snrDb") is not None:
                snr[i, k] = c["snrDb"]
    fig, axes = plt.subplots(3, 1, figsize=(12, 10), gridspec_kw={"height_ratios": [2.5, 1.2, 1.2]})
    ax = axes[0]
    image = ax.imshow(snr.T, aspect="auto", cmap="viridis", interpolation="nearest")
    fig.colorbar(image, ax=ax, label="SNR per period (dB)")
    ax.set_ylabel("channel (micIndices)")
    first = next((r["channels"] for r in recordings if r["channels"]), [])
    ax.set_yticks(range(len(first)))
    ax.set_yticklabels([str(c["channel"]) for c in first], fontsize=7)
    ax.set_xlabel("recording")
    where = f" in {report['directory']}" if report.get("directory") else ""
    ax.set_title(f"{report['list']}{where}: {report['periods']} periods of {report['periodLength']} samples"
                 f" ({report['verdict']})")
    step = max(1, len(names) // 24)
    for a in axes:
        a.set_xticks(range(0, len(names), step))
        a.set_xticklabels(names[::step], rotation=60, ha="right", fontsize=6)
    ax = axes[1]
    level = [np.median([c["rmsDbfs"] for c in r["channels"]]) if r["channels"] else np.nan for r in recordings]
    peak = [max([c["peakDbfs"] for c in r["channels"]], default=np.nan) for r in recordings]
    ax.plot(level, ".-", label="level (median channel, dBFS)")
    ax.plot(peak, ".-", label="peak (dBFS)")
    clipped = [i for i, r in enumerate(recordings) if any(c["clipped"] for c in r["channels"])]
    if clipped:
        ax.plot(clipped, [peak[i] for i in clipped], "o", color="tab:red", label="clipped")
    ax.set_ylabel("dBFS")
    ax.legend(fontsize=8)
    ax.grid(True, alpha=0.3)
    ax = axes[2]
    drift = [np.median([c["driftPpm"] for c in r["channels"] if "driftPpm" in c]) if any("driftPpm" in c for c in r["channels"])
             else np.nan for r in recordings]
    ax.plot(drift, ".-")
    # A floor of +-1 ppm: float noise of 1e-6 ppm must not look like spikes.
    finite = [abs(d) for d in drift if np.isfinite(d)]
    span = max([1.0] + [1.2 * d for d in finite])
    ax.set_ylim(-span, span)
    ax.set_ylabel("clock drift (ppm)")
    ax.grid(True, alpha=0.3)
    fig.tight_layout()
    path = os.path.join(out_dir, "tfcheck-recordings.png")
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return [path]


def plot_band_snr(report, out_dir):
    bands = report.get("octaveBands", [])
    recordings = report["recordings"]
    snr = np.full((len(bands), len(recordings)), np.nan)
    for i, r in enumerate(recordings):
        per_channel = [c["bandSnrAveragedDb"] for c in r["channels"] if c.get("bandSnrAveragedDb")]
        for b in range(len(bands)):
            values = [v[b] for v in per_channel if b < len(v) and v[b] is not None]
            if values:
                snr[b, i] = np.median(values)
    if not bands or np.all(np.isnan(snr)):
        return []
    confidence = report.get("tfConfidence")
    rows = 2 if confidence else 1
    fig, axes = plt.subplots(rows, 1, figsize=(12, 4.5 * rows), squeeze=False)
    ax = axes[0][0]
    image = ax.imshow(snr, aspect="auto", cmap="viridis", interpolation="nearest", origin="lower")
    fig.colorbar(image, ax=ax, label="SNR after averaging (dB, median over channels)")
    ax.set_yticks(range(len(bands)))
    ax.set_yticklabels([f"{b['centreHz']:.0f}" for b in bands], fontsize=7)
    ax.set_ylabel("octave band (Hz)")
    labels = [f"{r['azimuthDeg']:.0f}/{r['elevationDeg']:.0f}" for r in recordings]
    step = max(1, len(labels) // 36)
    ax.set_xticks(range(0, len(labels), step))
    ax.set_xticklabels(labels[::step], rotation=60, ha="right", fontsize=6)
    ax.set_xlabel("direction of the recording (azimuth/elevation, degrees)")
    where = f" in {report['directory']}" if report.get("directory") else ""
    ax.set_title(f"{report['list']}{where}: SNR per octave band ({report['verdict']})")
    if confidence:
        ax = axes[1][0]
        sources = confidence["sources"]
        share = np.array([[100.0 * m["lowSnrShare"] for m in s["mics"]] for s in sources]).T
        image = ax.imshow(share, aspect="auto", cmap="magma_r", interpolation="nearest", vmin=0,
                          vmax=max(1.0, float(np.nanmax(share)) if share.size else 1.0))
        fig.colorbar(image, ax=ax, label=f"bins below {confidence['lowSnrLimitDb']:.0f} dB (%)")
        ax.set_ylabel("microphone (file order)")
        source_labels = [f"{s['azimuthDeg']:.0f}/{s['elevationDeg']:.0f}" for s in sources]
        step = max(1, len(source_labels) // 36)
        ax.set_xticks(range(0, len(source_labels), step))
        ax.set_xticklabels(source_labels[::step], rotation=60, ha="right", fontsize=6)
        ax.set_xlabel("source (azimuth/elevation, degrees)")
        ax.set_title(f"{confidence['file']} (nfft {confidence['nfft']}): share of bins below the SNR limit")
    fig.tight_layout()
    path = os.path.join(out_dir, "tfcheck-band-snr.png")
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return [path]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--json", required=True, help="the report tfcheck --json printed")
    parser.add_argument("--out-dir", required=True)
    args = parser.parse_args()
    with open(args.json, encoding="utf-8") as f:
        report = json.load(f)
    os.makedirs(args.out_dir, exist_ok=True)
    if report["mode"] == "tf":
        written = plot_tf(report, args.out_dir)
    else:
        written = plot_recordings(report, args.out_dir) + plot_band_snr(report, args.out_dir)
    for path in written:
        print(path)


if __name__ == "__main__":
    main()
