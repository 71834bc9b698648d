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
Exits with status 1 when a check fails.
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

IR_TOLERANCE = 1e-4       # of each response's peak
PHASE_TOLERANCE = 0.01    # radians
PHASE_BAND_HZ = (200.0, 6000.0)


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
            level = f"{20 * np.log10(nonzero.mean()):.1f} dB mean |TF| over nonzero bins" if nonzero.size else "all zero"
            lines.append(f"  {ds['id']:<11} {ds['sourceCount']} sources, tf {dims}, {level}")
        elif ds["id"] == "vgtf::Spec":
            lines.append(f"  vgtf::Spec  date {ds.get('date', '')}, user {ds.get('user', '') or '(none)'}")
    return "\n".join(lines)


def recovered_files(work_dir, wave_name):
    """The impulse calculator's outputs for one recording, numbered from 1."""
    matches = glob.glob(os.path.join(work_dir, "*", wave_name, "float_ch*.flt"))
    return {int(os.path.basename(m)[len("float_ch"):-len(".flt")]): m for m in matches}


def check_impulse_responses(list_file, exact_dir, work_dir):
    cfg = veskio2py.read_config(list_file)
    worst, where, count = 0.0, None, 0
    for s, source in enumerate(cfg.sources):
        for f in source.files:
            found = recovered_files(work_dir, f.name)
            # The calculator numbers its outputs by ascending selected channel;
            # channel c of the wave belongs to micIndices[c].
            channels = sorted({c for c in f.micIndices if c < 64})
            for number, channel in enumerate(channels, start=1):
                if channel >= len(f.micIndices):
                    continue
                mic_index = f.micIndices[channel]
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


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--veskdump", required=True)
    p.add_argument("--list", required=True, help="TSP list of the accuracy pass")
    p.add_argument("--exact", required=True, help="directory of the simulated responses")
    p.add_argument("--recovered", required=True, help="temporary directory of the TF run from recordings")
    p.add_argument("--measured", required=True, help="GTF file from the accuracy pass's recordings")
    p.add_argument("--geometric", required=True, help="geometric GTF file")
    p.add_argument("tf_files", nargs="+", help="TF files to describe")
    args = p.parse_args()

    for path in args.tf_files:
        print(dump_summary(args.veskdump, path))
        print()

    ir_err, ir_where, ir_count = check_impulse_responses(args.list, args.exact, args.recovered)
    ph_err, ph_where, ph_bins = check_phase(args.measured, args.geometric)
    ir_ok, ph_ok = ir_err <= IR_TOLERANCE, ph_err <= PHASE_TOLERANCE
    print("Accuracy without room tail and noise:")
    print(f"  (a) recovered impulse responses: worst error {ir_err:.3g} of the peak over {ir_count} responses "
          f"(source {ir_where[0]}, microphone {ir_where[1]}); limit {IR_TOLERANCE:g}: "
          f"{'PASS' if ir_ok else 'FAIL'}")
    print(f"  (b) phase relative to microphone 0, measured vs geometric GTF: worst error {ph_err:.3g} rad "
          f"over {ph_bins} bins from {PHASE_BAND_HZ[0]:.0f} Hz to {PHASE_BAND_HZ[1]:.0f} Hz "
          f"(source {ph_where[0]}, microphone ordinal {ph_where[1]}, {ph_where[2]:.0f} Hz); "
          f"limit {PHASE_TOLERANCE:g} rad: {'PASS' if ph_ok else 'FAIL'}")
    return 0 if ir_ok and ph_ok else 1


if __name__ == "__main__":
    sys.exit(main())
