"""The plain-script way to the same GeneralTF file: veskio2py reads the
transfer-function file, netCDF4 writes Data.Real and Data.Imag (float32)
and the positions. Usage: numpy_vesk2sofa.py TF.bin OUT.sofa"""
import sys

import netCDF4
import numpy as np

import veskio2py

tf = veskio2py.read_tf(sys.argv[1])
sources, mics, bins = tf.tf.shape
with netCDF4.Dataset(sys.argv[2], "w", format="NETCDF4") as nc:
    nc.Conventions, nc.SOFAConventions, nc.DataType = "SOFA", "GeneralTF", "TF"
    for name, size in (("I", 1), ("C", 3), ("M", sources), ("R", mics), ("E", 1), ("N", bins)):
        nc.createDimension(name, size)
    nc.createVariable("SourcePosition", "f8", ("M", "C"))[:] = tf.positions
    nc.createVariable("ReceiverPosition", "f8", ("R", "C", "I"))[:] = tf.mic_positions[:, :, None]
    nc.createVariable("N", "f8", ("N",))[:] = tf.frequencies_hz()
    nc.createVariable("Data.Real", "f4", ("M", "R", "N"), contiguous=True)[:] = tf.tf.real
    nc.createVariable("Data.Imag", "f4", ("M", "R", "N"), contiguous=True)[:] = tf.tf.imag
