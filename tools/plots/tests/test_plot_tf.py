"""The plot command on free-field files that trelvix computes from a
three-ring grid: their phase must match the prediction for either file kind,
a wrong speed of sound must show, and a ring can be picked."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

PLOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "plot_tf.py")
NUM_AZI, NUM_ELV, ELV_FROM, ELV_INT = 12, 3, -20, 20
NUM_MIC = 6
SUMMARY = re.compile(r"(\d+) microphones, (\d+) sources, .*worst (\S+) deg")


class PlotCommand(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        trelvix = os.environ.get("TRELVIX_BIN")
        if not trelvix:
            raise unittest.SkipTest("TRELVIX_BIN not set (run through ctest)")
        cls.dir = tempfile.mkdtemp(prefix="vesk_plots_")

        def run(*args):
            subprocess.run([trelvix, *args], cwd=cls.dir, check=True, capture_output=True)

        run("-m", "template", "-t", "mic", "--nummic", str(NUM_MIC), "--numazi", str(NUM_MIC),
            "--aziint", str(360 // NUM_MIC), "--radius", "0.1", "-o", "mic.xml")
        run("-m", "template", "-t", "tsp", "--nummic", str(NUM_MIC), "--numazi", str(NUM_AZI),
            "--aziint", str(360 // NUM_AZI), "--numelv", str(NUM_ELV), "--elvfrom", str(ELV_FROM),
            "--elvint", str(ELV_INT), "--radius", "1.5", "-o", "tsp.xml")
        for kind in ("gtf", "m2pg"):
            run("-m", "tf", "-t", kind, "--geometry-calculus", "1", "-o", f"{kind}.bin", "mic.xml", "tsp.xml")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, True)

    def run_plot(self, *extra):
        return subprocess.run(
            [sys.executable, PLOT, "--mic", "mic.xml", "--list", "tsp.xml", "--out-dir", "png", *extra],
            cwd=self.dir, capture_output=True, text=True)

    def test_phase_summary_and_rings(self):
        all_sources, one_ring = NUM_AZI * NUM_ELV, NUM_AZI
        # (arguments, per file: sources in its summary, whether its worst
        # phase error lies below the limit in degrees). The files are exact
        # free fields in float: their error is rounding, far below 0.05
        # degrees; 300 m/s instead of 343 puts it far above 1 degree.
        cases = [
            (["--tf", "gtf.bin", "--prefix", "g-", "--tf", "m2pg.bin", "--prefix", "m-"],
             [(all_sources, True, 0.05), (all_sources, True, 0.05)]),
            (["--tf", "gtf.bin", "--speed-of-sound", "300"], [(all_sources, False, 1.0)]),
            (["--tf", "m2pg.bin", "--elevation", str(ELV_FROM + ELV_INT), "--reference-index", "3",
              "--mic-index", "5"], [(one_ring, True, 0.05)]),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                done = self.run_plot(*args)
                self.assertEqual(done.returncode, 0, done.stderr)
                found = SUMMARY.findall(done.stdout)
                self.assertEqual(len(found), len(expected), done.stdout)
                for (mics, sources, worst), (want_sources, below, limit) in zip(found, expected):
                    self.assertEqual(int(mics), NUM_MIC - 1)
                    self.assertEqual(int(sources), want_sources)
                    self.assertEqual(float(worst) < limit, below, done.stdout)
                pngs = [line for line in done.stdout.splitlines() if line.endswith(".png")]
                self.assertEqual(len(pngs), 1 + 2 * len(expected), done.stdout)
                for name in pngs:
                    with open(os.path.join(self.dir, name), "rb") as f:
                        self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n", name)

    def test_refusals(self):
        cases = [
            (["--tf", "gtf.bin", "--elevation", "10"], "gtf.bin: no ring at elevation 10\u00b0"),
            (["--tf", "gtf.bin", "--mic-index", str(NUM_MIC)], f"--mic-index {NUM_MIC} is not a micIndex of mic.xml"),
            (["--tf", "gtf.bin", "--tf", "m2pg.bin", "--prefix", "a"], "give one --prefix per --tf (2), found 1"),
            (["--tf", "gtf.bin", "--mic", "nan-mic.xml", "--out-dir", "nan-png"],
             "nan-mic.xml: microphone 0 has a position that is not finite"),
        ]
        with open(os.path.join(self.dir, "mic.xml")) as fh:
            text = fh.read()
        with open(os.path.join(self.dir, "nan-mic.xml"), "w") as fh:
            fh.write(re.sub(r'x="[^"]*"', 'x="nan"', text, count=1))
        for args, message in cases:
            with self.subTest(args=args):
                done = self.run_plot(*args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(message, done.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "nan-png")))


if __name__ == "__main__":
    unittest.main()
