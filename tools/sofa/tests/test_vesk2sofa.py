"""vesk2sofa's GeneralTF files read by an independent reader (netCDF4)
against the transfer-function files as veskio2py reads them."""

import os
import shutil
import subprocess
import tempfile
import unittest

import numpy as np
import netCDF4

import veskio2py


def run(*args, cwd=None):
    subprocess.run(args, check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class GeneralTfExport(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        env = os.environ
        if not all(k in env for k in ("VESK_FIXTURE_WRITER", "TRELVIX_BIN", "VESK2SOFA_BIN")):
            raise unittest.SkipTest("run through ctest")
        cls.dir = tempfile.mkdtemp(prefix="vesk2sofa_")
        d = cls.dir
        run(env["VESK_FIXTURE_WRITER"], d)  # gtf.bin, m2pg.bin: a distinct value per (source, mic, bin)
        trelvix = env["TRELVIX_BIN"]
        run(trelvix, "-m", "template", "-t", "mic", "--nummic", "4", "--radius", "0.1", "-o", "geo-mic.xml", cwd=d)
        run(trelvix, "-m", "template", "-t", "tsp", "--nummic", "4", "--numazi", "12", "--aziint", "30", "--numelv", "2",
            "--elvint", "20", "--radius", "1.5", "-o", "geo-tsp.xml", cwd=d)
        run(trelvix, "-m", "tf", "-t", "gtf", "--geometry-calculus", "1", "--nfft", "64", "--sampling-freq", "8000",
            "-o", "geo.bin", "geo-mic.xml", "geo-tsp.xml", cwd=d)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_values_positions_and_frequencies_agree(self):
        cases = [
            # file, extra options, expected Title, expected DateCreated prefix
            ("gtf.bin", [], "gtf.bin", "2026-03-07 00:00:00"),
            ("m2pg.bin", ["--title", "array A", "--comment", "bench test"], "array A", None),
            ("geo.bin", [], "geo.bin", None),
        ]
        for name, options, title, date in cases:
            with self.subTest(name):
                tf_path = os.path.join(self.dir, name)
                sofa_path = tf_path + ".sofa"
                run(os.environ["VESK2SOFA_BIN"], *options, tf_path, sofa_path)
                tf = veskio2py.read_tf(tf_path)
                with netCDF4.Dataset(sofa_path) as nc:
                    nc.set_auto_mask(False)
                    self.assertEqual((nc.Conventions, nc.SOFAConventions, nc.DataType), ("SOFA", "GeneralTF", "TF"))
                    self.assertEqual(nc.Title, title)
                    if date:
                        self.assertEqual(nc.DateCreated, date)
                    self.assertEqual(nc.VeskTFKind, tf.kind)
                    self.assertTrue(nc.VeskStoredValues.startswith(tf.kind))
                    if "--comment" in options:
                        self.assertEqual(nc.Comment, "bench test")
                    else:
                        self.assertEqual(nc.Comment, nc.VeskStoredValues)
                    sources, mics, bins = tf.tf.shape
                    self.assertEqual({k: len(v) for k, v in nc.dimensions.items()},
                                     {"I": 1, "C": 3, "M": sources, "R": mics, "E": 1, "N": bins})
                    stored = nc["Data.Real"][:] + 1j * nc["Data.Imag"][:].astype(np.complex64)
                    self.assertEqual(nc["Data.Real"].dtype, np.float32)
                    np.testing.assert_array_equal(stored.astype(np.complex64), tf.tf)
                    np.testing.assert_array_equal(nc["SourcePosition"][:].astype(np.float32), tf.positions)
                    np.testing.assert_array_equal(nc["ReceiverPosition"][:, :, 0].astype(np.float32),
                                                  tf.mic_positions)
                    self.assertEqual((nc["N"].LongName, nc["N"].Units), ("frequency", "hertz"))
                    np.testing.assert_allclose(nc["N"][:], tf.frequencies_hz(), rtol=1e-12)
                    for var in ("ListenerPosition", "ReceiverPosition", "SourcePosition", "EmitterPosition"):
                        self.assertEqual((nc[var].Type, nc[var].Units), ("cartesian", "metre"))

    def test_failed_export_leaves_nothing(self):
        d = tempfile.mkdtemp(dir=self.dir)
        bad = os.path.join(d, "bad.bin")
        with open(bad, "wb") as f:
            f.write(b"VESKFILE\x01\x00\x00\x00")
        result = subprocess.run([os.environ["VESK2SOFA_BIN"], bad, os.path.join(d, "out.sofa")],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 1)
        self.assertIn("bad.bin", result.stderr)
        self.assertEqual(os.listdir(d), ["bad.bin"])


if __name__ == "__main__":
    unittest.main()
