"""Read the transfer-function file and the XML configuration files into numpy.

    import veskio2py
    tf = veskio2py.read_tf("tf.bin")        # tf.tf: complex64 [source, mic, bin]
    mics = veskio2py.read_config("mic.xml") # mics.mic_positions(): [mic, 3] metres
    err = veskio2py.geometry.phase_error(tf, mics.mic_positions())  # vs the free field
"""

from .tffile import TFFile, VeskFormatError, read_tf
from .config import ConfigFile, ConfigError, File, Mic, Position, Source, read_config
from . import geometry

__all__ = [
    "TFFile", "VeskFormatError", "read_tf",
    "ConfigFile", "ConfigError", "File", "Mic", "Position", "Source", "read_config",
    "geometry",
]
