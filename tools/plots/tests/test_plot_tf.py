"""One run of the plot command on files written by the C++ library."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

PLOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "plot_tf.py")


class PlotCommand(unittest.TestCase):
    def setUp(self):
        writer = os.environ.get("VESK_FIXTURE_WRITER")
        if not writer:
            self.skipTest("VESK_FIXTURE_WRITER not set (run through ctest)")
        self.dir = tempfile.mkdtemp(prefix="vesk_plots_")
        self.addCleanup(shutil.rmtree, self.dir, True)
        subprocess.run([writer, self.dir], check=True)

    def run_plot(self, *extra):
        return subprocess.run(
            [sys.executable, PLOT, "--mic", os.path.join(self.dir, "mic.xml"),
             "--list", os.path.join(self.dir, "tsp.xml"), "--out-dir", os.path.join(self.dir, "png"), *extra],
            capture_output=True, text=True)

    def test_writes_the_array_and_two_figures_per_file(self):
        done = self.run_plot("--tf", os.path.join(self.dir, "gtf.bin"), "--prefix", "gtf-",
                             "--tf", os.path.join(self.dir, "m2pg.bin"), "--prefix", "m2pg-")
        self.assertEqual(done.returncode, 0, done.stderr)
        names = ["array.png", "gtf-magnitude.png", "gtf-phase.png", "m2pg-magnitude.png", "m2pg-phase.png"]
        self.assertEqual(done.stdout.splitlines(), [os.path.join(self.dir, "png", n) for n in names])
        for name in names:
            path = os.path.join(self.dir, "png", name)
            with open(path, "rb") as f:
                head = f.read(8)
            self.assertEqual(head, b"\x89PNG\r\n\x1a\n", name)
            self.assertGreater(os.path.getsize(path), 1000, name)

    def test_refuses_a_microphone_outside_the_array(self):
        done = self.run_plot("--tf", os.path.join(self.dir, "gtf.bin"), "--mic-ordinal", "4")
        self.assertEqual(done.returncode, 2)
        self.assertIn("--mic-ordinal must lie in 0 .. 3, found 4", done.stderr)


if __name__ == "__main__":
    unittest.main()
