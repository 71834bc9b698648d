"""The Python reader against files written by the C++ library."""

import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import numpy as np

import veskio2py
from veskio2py.tffile import parse_tf
from veskio2py.config import parse_config

SOURCES, MICS, NFFT = 3, 4, 8
BINS = NFFT // 2 + 1


def expected_tf():
    """The values the fixture writer stores: (s + 0.5 m) + i (k - 0.25 s)."""
    s, m, k = np.meshgrid(np.arange(SOURCES), np.arange(MICS), np.arange(BINS), indexing="ij")
    return ((s + 0.5 * m) + 1j * (k - 0.25 * s)).astype(np.complex64)


def expected_positions():
    s = np.arange(SOURCES, dtype=np.float32)
    return np.stack([np.cos(0.5 * s), np.sin(0.5 * s), 0.25 * s], axis=1).astype(np.float32)


class CppWrittenFiles(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        writer = os.environ.get("VESK_FIXTURE_WRITER")
        if not writer:
            raise unittest.SkipTest("VESK_FIXTURE_WRITER not set (run through ctest)")
        cls.dir = tempfile.mkdtemp(prefix="veskio2py_")
        subprocess.run([writer, cls.dir], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_gtf_file(self):
        # Read into memory and mapped: the same values either way.
        for mmap in (False, True):
            with self.subTest(mmap=mmap):
                self.check_gtf_file(veskio2py.read_tf(self.path("gtf.bin"), mmap=mmap))

    def check_gtf_file(self, f):
        self.assertEqual(f.kind, "gtf")
        self.assertEqual((f.format_type, f.mic_count, f.fft_length, f.ir_length, f.sampling_rate),
                         (2, MICS, NFFT, 4096, 16000))
        self.assertEqual(f.tf.dtype, np.complex64)
        self.assertEqual(f.tf.shape, (SOURCES, MICS, BINS))
        np.testing.assert_array_equal(f.tf, expected_tf())
        # float32 both sides: cos/sin may differ in the last bit between libm and numpy
        np.testing.assert_allclose(f.positions, expected_positions(), rtol=0, atol=1e-7)
        np.testing.assert_array_equal(f.bin_indices, np.arange(BINS))
        m = np.arange(MICS, dtype=np.float32)
        np.testing.assert_array_equal(
            f.mic_positions, np.stack([np.float32(0.1) * m, np.float32(-0.1) * m, np.full(MICS, 0.01, np.float32)], 1))
        self.assertEqual(f.spec["date"], "2026/03/07")
        self.assertEqual(f.spec["user"], "\u017dofie")
        np.testing.assert_allclose(f.frequencies_hz(), [0, 2000, 4000, 6000, 8000])

    def test_m2pg_file_flattens_inner_positions(self):
        f = veskio2py.read_tf(self.path("m2pg.bin"))
        self.assertEqual((f.kind, f.format_type, f.source_count), ("m2pg", 1, SOURCES))
        self.assertEqual(f.fields("vgtf::M2PG")["tf"].shape, (SOURCES, 1, MICS, BINS))
        np.testing.assert_array_equal(f.tf, expected_tf())
        self.assertEqual(f.positions.shape, (SOURCES, 3))
        np.testing.assert_array_equal(f.bin_indices, np.arange(BINS))

    def test_configuration_files(self):
        mic = veskio2py.read_config(self.path("mic.xml"))
        self.assertEqual((mic.id, mic.version, mic.comment), ("MicArrayLocationFile", "2.0", "created by trelvix"))
        self.assertEqual(mic.mic_indices(), [10, 11, 12, 13])
        expected = np.array([[0.1 * (m + 1), 0, 0.02] for m in range(MICS)])
        np.testing.assert_allclose(mic.mic_positions(), expected, atol=1e-6)  # float32 direction x distance

        tsp = veskio2py.read_config(self.path("tsp.xml"))
        self.assertEqual(tsp.id, "TSPListFile")
        self.assertEqual((tsp.numMic, tsp.numInner, tsp.synchronousAverage, tsp.tspOffset, tsp.tspLength,
                          tsp.signalMax), (MICS, 1, 16, 16384, 16384, 32768))
        self.assertEqual(tsp.originalImpulseFile, {"name": "16384.little_endian.tsp", "kind": 1})
        self.assertEqual([s.cut_start for s in tsp.sources], [1, 2, 3])
        self.assertEqual([s.cutEnd for s in tsp.sources], [0, 0, 0])
        self.assertEqual([s.files[0].name for s in tsp.sources], ["D0_00.wav", "D5_00.wav", "D10_00.wav"])
        self.assertEqual(tsp.sources[2].files[0].micIndices, [10, 11, 12, 13])
        np.testing.assert_allclose(tsp.source_positions(), 1.5 * expected_positions(), atol=1e-6)

    def test_damaged_files_are_refused_with_what_was_expected(self):
        with open(self.path("gtf.bin"), "rb") as fh:
            data = fh.read()
        # The last data set, vgtf::Spec: six set marks, six text lengths, the texts.
        spec_body = 6 + 6 * 4 + len("2026/03/07") + len("\u017dofie".encode())
        cases = [
            (data[:-1], "expected %d bytes of vgtf::Spec body at offset %d, found %d"
             % (spec_body, len(data) - spec_body, spec_body - 1)),
            (data + b"\0", "expected the file to end at byte %d, found 1 more bytes" % len(data)),
            (b"VESKFILX" + data[8:], "expected magic VESKFILE, found b'VESKFILX'"),
            (data[:8] + struct.pack("<I", 2) + data[12:], "expected format major version 1, found 2"),
        ]
        for damaged, message in cases:
            with self.assertRaises(veskio2py.VeskFormatError) as ctx:
                parse_tf(damaged, "x.bin")
            self.assertIn(message, str(ctx.exception))
            # From a file, mapped or read: the error is raised, not taken for
            # a file that cannot be mapped.
            with open(self.path("damaged.bin"), "wb") as fh:
                fh.write(damaged)
            for mapped in (True, False):
                with self.assertRaises(veskio2py.VeskFormatError) as ctx:
                    veskio2py.read_tf(self.path("damaged.bin"), mmap=mapped)
                self.assertIn(message, str(ctx.exception))
        # A set mark other than 0 or 1: the first body byte of vgtf::Fmt (after
        # the 20-byte header, the 4-byte id length, 9 id bytes, version and length).
        first_mark = 20 + 4 + 9 + 8 + 8
        bad = bytearray(data)
        bad[first_mark] = 7
        with self.assertRaises(veskio2py.VeskFormatError) as ctx:
            parse_tf(bytes(bad), "x.bin")
        self.assertIn("expected set mark 0 or 1 for formatType, found 7", str(ctx.exception))

    def test_agrees_with_veskdump(self):
        veskdump = os.environ.get("VESKDUMP_BIN")
        if not veskdump or not os.path.exists(veskdump):
            self.skipTest("veskdump not built")
        dumped = json.loads(subprocess.run([veskdump, self.path("gtf.bin")], check=True,
                                           capture_output=True, text=True).stdout)
        gtf = [d for d in dumped["dataSets"] if d["id"] == "vgtf::GTF"][0]
        tf = np.array(gtf["tf"], dtype=np.float32)
        np.testing.assert_array_equal(veskio2py.read_tf(self.path("gtf.bin")).tf, tf[..., 0] + 1j * tf[..., 1])

    def test_numbers_and_entities_as_the_cpp_reader_takes_them(self):
        veskdump = os.environ.get("VESKDUMP_BIN")
        if not veskdump or not os.path.exists(veskdump):
            self.skipTest("veskdump not built")
        mic = ('<?xml version="1.0"?>\n{dtd}<veskconfig id="MicArrayLocationFile" version="2.0"><comment>{comment}'
               '</comment><mics><mic version="1"><micIndex>0</micIndex><position x="{x}" y="0" z="0"/></mic></mics>'
               '</veskconfig>\n')
        cases = [("1.5", "", ""), ("+2e3", "", ""), ("-inf", "", ""), ("nan", "", ""), (".5", "", ""),
                 ("1e999", "", ""), ("1e-50", "", ""), ("1_000", "", ""), ("0x1p3", "", ""), ("+-1", "", ""),
                 ("3.5e38", "", ""), ("1", '<!DOCTYPE veskconfig [<!ENTITY big "aaaa">]>\n', "&big;")]
        for x, dtd, comment in cases:
            with self.subTest(x=x, entity=bool(dtd)):
                path = self.path("numbers.xml")
                with open(path, "w") as fh:
                    fh.write(mic.format(dtd=dtd, comment=comment, x=x))
                cpp_accepts = subprocess.run([veskdump, path], capture_output=True).returncode == 0
                try:
                    veskio2py.read_config(path)
                    python_accepts = True
                except veskio2py.ConfigError:
                    python_accepts = False
                self.assertEqual(python_accepts, cpp_accepts)


class DocumentedExamples(unittest.TestCase):
    def test_byte_example(self):
        hexbytes = """56 45 53 4B 46 49 4C 45 01 00 00 00 00 00 00 00 01 00 00 00
                      09 00 00 00 76 67 74 66 3A 3A 46 6D 74 01 00 00 00 00 00 00 00
                      0A 00 00 00 00 00 00 00 01 02 00 00 00 00 00 00 00 00"""
        f = parse_tf(bytes.fromhex(hexbytes))
        self.assertEqual(f.format_type, 2)
        self.assertIsNone(f.mic_count)
        self.assertIsNone(f.tf)

    def test_huge_dimensions_fail_on_the_missing_bytes(self):
        # A GTF body claiming 2^32-1 values in each of three dimensions: the
        # reader must compare the exact byte count, not allocate or wrap.
        body = b"\x00" * 4 + b"\x01" + struct.pack("<III", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)
        data = b"VESKFILE" + struct.pack("<III", 1, 0, 1) + struct.pack("<I", 9) + b"vgtf::GTF" + \
            struct.pack("<IIQ", 1, 0, len(body)) + body
        with self.assertRaises(veskio2py.VeskFormatError) as ctx:
            parse_tf(data, "big.bin")
        self.assertIn("expected %d bytes of tf" % (8 * (2 ** 32 - 1) ** 3), str(ctx.exception))

    def test_unknown_data_sets_are_skipped(self):
        body = b"\x01\x02\x03"
        data = b"VESKFILE" + struct.pack("<III", 1, 3, 1) + struct.pack("<I", 5) + b"other" + \
            struct.pack("<IIQ", 1, 0, len(body)) + body
        self.assertEqual(parse_tf(data).data_sets, [])

    def test_config_errors_name_the_line(self):
        text = b'<?xml version="1.0"?>\n<veskconfig id="MicArrayLocationFile" version="2.0">\n' \
               b'<mics><mic version="1"><micIndex>x1</micIndex></mic></mics></veskconfig>'
        with self.assertRaises(veskio2py.ConfigError) as ctx:
            parse_config(text, "mic.xml")
        self.assertIn('bad unsigned number "x1" in <micIndex>', str(ctx.exception))
        with self.assertRaises(veskio2py.ConfigError) as ctx:
            parse_config(b'<veskconfig id="Other" version="2.0"/>', "o.xml")
        self.assertEqual(str(ctx.exception), "o.xml: expected a configuration id, found Other")


if __name__ == "__main__":
    unittest.main()
