"""What the plot commands share: numpy and matplotlib, with a clear message
when they are missing (installed beside the Python reader)."""

import os
import sys


def load_plotting(doc):
    """Returns (numpy, matplotlib.pyplot) drawing to files (the Agg back
    end). Without them, --help prints `doc` and exits with status 0; any
    other use exits naming the Debian packages and the interpreter."""
    try:
        import numpy
        import matplotlib
    except ImportError as e:
        if "-h" in sys.argv[1:] or "--help" in sys.argv[1:]:
            print(doc.strip())  # the help needs neither
            print(f"\n(numpy and matplotlib are missing in {sys.executable}: {e})")
            sys.exit(0)
        sys.exit(f"{os.path.basename(sys.argv[0])}: {e}; it needs numpy and matplotlib "
                 f"(Debian: python3-numpy python3-matplotlib) in {sys.executable}")
    matplotlib.use("Agg")
    import matplotlib.pyplot
    return numpy, matplotlib.pyplot
