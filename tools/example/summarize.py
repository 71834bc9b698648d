#!/usr/bin/env python3
"""Summary of the end-to-end example: what each transfer-function file holds
(as veskdump prints it) and how closely the measured chain reproduces the
simulation.

Checks, on the pass without room tail and noise:
  (a) every impulse response the impulse calculator recovered equals the
      simulated response within 1e-4 of that response's peak;
  (b) in the GTF file from the TSP recordings, the phase of each microphone
      relative to microphone 0 agrees with the geometric GTF file within
      0.01 rad in every bin from 200 Hz to 6 kHz.
Exits with status 1 when a check fails. The room pass is reported, not
checked: its phase against the free field, band by band. Phase errors are
also given as time (microseconds) and as the direction error that time gives
across the array's aperture.
"""

import argparse
import glob
import json
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import veskio2py  # noqa: E402
from veskio2py import geometry  # noqa: E402

IR_TOLERANCE = 1e-4       # of each response's peak
PHASE_TOLERANCE = 0.01    # radians
PHASE_BAND_HZ = (200.0, 6000.0)
ROOM_BANDS_HZ = ((200.0, 500.0), (500.0, 1000.0), (1000.0, 2000.0), (2000.0, 4000.0), (4000.0, 7200.0))
SPEED_MPS = 343.0         # of the simulation and the geometric calculation

LEVEL_NOTE = ("|TF| levels are dB re 1. M2PG holds the spectrum of each impulse response as the impulse\n"
              "calculator recovered it: a microphone that receives the played TSP unchanged is 0 dB. GTF\n"
              "values are after trelvix's normalisation (each source's responses to unit energy, then unit\n"
              "energy along the --normalize-* axes), so only differences within one GTF file mean anything.")


def dump_summary(veskdump, path):
    """One paragraph per TF file, from veskdump's JSON."""
    done = subprocess.run([veskdump, path], check=True, capture_output=True, text=True)
    doc = json.loads(done.stdout)
    lines = [f"{path}"]
    for ds in doc["dataSets"]:
        if ds["id"] == "vgtf::Fmt":
            lines.append("  vgtf::Fmt   formatType {formatType}, {micCount} microphones, fftLength {fftLength}, "
                         "irLength {irLength}, {samplingRate} Hz".format(**ds))
        elif ds["id"] in ("vgtf::GTF", "vgtf::M2PG"):
            tf = np.array(ds["tf"], dtype=np.float64)
            mag = np.hypot(tf[..., 0], tf[..., 1])
            dims = " x ".join(str(d) for d in tf.shape[:-1])
            nonzero = mag[mag > 0]
            level = (f"mean |TF| {20 * np.log10(nonzero.mean()):.1f} dB re 1 over the nonzero values"
                     if nonzero.size else "all zero")
            lines.append(f"  {ds['id']:<11} {ds['sourceCount']} sources, tf {dims}, {level}")
        elif ds["id"] == "vgtf::Spec":
            lines.append(f"  vgtf::Spec  date {ds.get('date', '')}, user {ds.get('user', '') or '(none)'}")
    return "\n".join(lines)


def recovered_files(work_dir, wave_name):
    """The impulse calculator's outputs for one recording, numbered from 1."""
    matches = glob.glob(os.path.join(work_dir, "*", wave_name, "float_ch*.flt"))
    return {int(os.path.basename(m)[len("float_ch"):-len(".flt")]): m for m in matches}


def check_impulse_responses(mic_file, list_file, exact_dir, work_dir):
    mic_indices = veskio2py.read_config(mic_file).mic_indices()
    cfg = veskio2py.read_config(list_file)
    worst, where, count = 0.0, None, 0
    for s, source in enumerate(cfg.sources):
        for f in source.files:
            found = recovered_files(work_dir, f.name)
            # The calculator numbers its outputs by ascending selected channel;
            # output k serves the array file's k-th microphone.
            channels = sorted({c for c in f.mic_indices if c < 64})
            for number in range(1, min(len(channels), len(mic_indices)) + 1):
                mic_index = mic_indices[number - 1]
                if number not in found:
                    raise SystemExit(f"no recovered response {number} for {f.name} under {work_dir}")
                got = np.fromfile(found[number], dtype="<f4").astype(np.float64)
                want = np.fromfile(os.path.join(exact_dir, "src%03d_mic%02d.flt" % (s, mic_index)),
                                   dtype="<f4").astype(np.float64)
                n = min(len(got), len(want))
                err = np.max(np.abs(got[:n] - want[:n])) / np.max(np.abs(want))
                count += 1
                if err > worst:
                    worst, where = err, (s, mic_index)
    return worst, where, count


def check_phase(measured_path, geometric_path):
    """Worst phase difference (radians) between the two files, relative to
    microphone 0, in PHASE_BAND_HZ; where (source, mic, Hz); bins compared."""
    measured = veskio2py.read_tf(measured_path)
    geometric = veskio2py.read_tf(geometric_path)
    if measured.tf.shape != geometric.tf.shape:
        raise SystemExit(f"{measured_path} and {geometric_path} differ in shape: "
                         f"{measured.tf.shape} and {geometric.tf.shape}")
    freqs = measured.frequencies_hz()
    band = (freqs >= PHASE_BAND_HZ[0]) & (freqs <= PHASE_BAND_HZ[1])

    def relative(tf):
        return np.angle(tf[:, :, band] * np.conj(tf[:, :1, band]))

    err = np.abs(np.angle(np.exp(1j * (relative(measured.tf) - relative(geometric.tf)))))
    s, m, k = np.unravel_index(np.argmax(err), err.shape)
    return float(err.max()), (int(s), int(m), float(freqs[band][k])), int(band.sum())


def as_time_and_direction(phase_rad, freq_hz, aperture):
    """A phase error at one frequency as time (microseconds) and as the
    direction error (degrees) of that time across the aperture."""
    us = phase_rad / (2 * np.pi * freq_hz) * 1e6
    return us, geometry.direction_error_deg(us, aperture, SPEED_MPS)


def room_report(path):
    """Phase against the free field, relative to microphone 0, per band."""
    tf_file = veskio2py.read_tf(path)
    mic_pos = tf_file.mic_positions.astype(np.float64)
    aperture = geometry.aperture_m(mic_pos)
    err = geometry.phase_error(tf_file, mic_pos, 0, SPEED_MPS)
    freqs = tf_file.frequencies_hz()
    lines = [f"  {path}: {tf_file.kind.upper()}, {err.shape[0]} sources x {err.shape[1] - 1} microphones",
             "    band (Hz)    |phase error| median / worst     as time median / worst    "
             "direction error median / worst"]
    for low, high in ROOM_BANDS_HZ:
        if low >= tf_file.sampling_rate / 2:
            continue
        summary = geometry.summarize_error(err, freqs, (low, high), 0)
        if summary is None:
            lines.append(f"    {low:5.0f}-{high:<5.0f}   no bins")
            continue
        dir_median = geometry.direction_error_deg(summary["median_us"], aperture, SPEED_MPS)
        dir_worst = geometry.direction_error_deg(summary["worst_us"], aperture, SPEED_MPS)
        lines.append(f"    {low:5.0f}-{high:<5.0f}  {summary['median_deg']:8.2f}\u00b0 / {summary['worst_deg']:6.1f}\u00b0"
                     f"          {summary['median_us']:7.2f} / {summary['worst_us']:7.1f} \u00b5s"
                     f"          {dir_median:6.2f}\u00b0 / {dir_worst:5.1f}\u00b0")
    return "\n".join(lines), aperture


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--veskdump", required=True)
    p.add_argument("--mic", required=True, help="microphone-array file of the accuracy pass")
    p.add_argument("--list", required=True, help="TSP list of the accuracy pass")
    p.add_argument("--exact", required=True, help="directory of the simulated responses")
    p.add_argument("--recovered", required=True, help="temporary directory of the TF run from recordings")
    p.add_argument("--measured", required=True, help="GTF file from the accuracy pass's recordings")
    p.add_argument("--geometric", required=True, help="geometric GTF file")
    p.add_argument("--room", nargs="*", default=[], help="TF files of the room pass, reported band by band")
    p.add_argument("--room-label", default="", help="what the room pass simulates, for the report")
    p.add_argument("tf_files", nargs="+", help="TF files to describe")
    args = p.parse_args()

    print("What each transfer-function file holds.")
    print(LEVEL_NOTE)
    print()
    for path in args.tf_files:
        print(dump_summary(args.veskdump, path))
        print()

    aperture = geometry.aperture_m(veskio2py.read_tf(args.measured).mic_positions.astype(np.float64))
    ir_err, ir_where, ir_count = check_impulse_responses(args.mic, args.list, args.exact, args.recovered)
    ph_err, ph_where, ph_bins = check_phase(args.measured, args.geometric)
    ir_ok, ph_ok = ir_err <= IR_TOLERANCE, ph_err <= PHASE_TOLERANCE
    ph_us, ph_dir = as_time_and_direction(ph_err, ph_where[2], aperture)
    limit_us, limit_dir = as_time_and_direction(PHASE_TOLERANCE, PHASE_BAND_HZ[1], aperture)
    print("Accuracy without room tail and noise:")
    print(f"  (a) recovered impulse responses: worst error {ir_err:.3g} of the peak over {ir_count} responses "
          f"(source {ir_where[0]}, microphone {ir_where[1]}); limit {IR_TOLERANCE:g}: "
          f"{'PASS' if ir_ok else 'FAIL'}")
    print(f"  (b) phase relative to microphone 0, measured vs geometric GTF: worst error {ph_err:.3g} rad "
          f"over {ph_bins} bins from {PHASE_BAND_HZ[0]:.0f} Hz to {PHASE_BAND_HZ[1]:.0f} Hz "
          f"(source {ph_where[0]}, microphone ordinal {ph_where[1]}, {ph_where[2]:.0f} Hz); "
          f"limit {PHASE_TOLERANCE:g} rad: {'PASS' if ph_ok else 'FAIL'}")
    print(f"      as time: {ph_us:.3g} \u00b5s, a direction error of {ph_dir:.2g}\u00b0 across the "
          f"{aperture:.3g} m aperture (the limit is {limit_us:.2g} \u00b5s, {limit_dir:.2g}\u00b0, at "
          f"{PHASE_BAND_HZ[1]:.0f} Hz)")

    if args.room:
        print()
        label = f" ({args.room_label})" if args.room_label else ""
        print(f"Room pass{label}:")
        print("phase relative to microphone 0 against the free field from the positions, over every source")
        print("and microphone, by band. Reported, not checked: reflections and noise move the phase. M2PG")
        print("keeps only the direct sound (each response is cut shortly after its peak), so the room barely")
        print("shows there; GTF keeps the whole response. Time = phase / (2\u03c0f); direction error =")
        print("asin(c \u00b7 time / D) for a source broadside to the aperture D (90\u00b0 once c \u00b7 time exceeds D).")
        for path in args.room:
            text, _ = room_report(path)
            print(text)
    return 0 if ir_ok and ph_ok else 1


if __name__ == "__main__":
    sys.exit(main())
