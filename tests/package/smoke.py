"""The Python side of scripts/package_smoke.sh: the installed package, from an
empty folder with a clean environment."""

import os
import sys

import numpy as np

import lumadex

expected_version, plugin_dir = sys.argv[1], sys.argv[2]

assert lumadex.__version__ == expected_version, lumadex.__version__
package_dir = os.path.dirname(lumadex.__file__)
assert package_dir == "/usr/lib/python3/dist-packages/lumadex", package_dir

with lumadex.Host() as host:
    plugin = host.plugin_path
    assert os.path.dirname(plugin) == plugin_dir, plugin
    pixels = np.random.default_rng(7).random((32, 48)).astype(np.complex64)
    image = host.image(pixels, name="noise")
    spectrum = host.ZEPPureFFT(image, 1.0, None).array()
    # Independent of the transform's sign and of where the origin is shown:
    # the sum at the origin, and Parseval's energy.
    assert spectrum.shape == pixels.shape, spectrum.shape
    assert np.isclose(spectrum[0, 0], pixels.sum(), rtol=1e-4), (spectrum[0, 0], pixels.sum())
    energy = (np.abs(spectrum) ** 2).sum() / pixels.size
    assert np.isclose(energy, (np.abs(pixels) ** 2).sum(), rtol=1e-4), energy

    image.save("noise.dm4")
    (back,) = host.open("noise.dm4")
    assert back.name == "noise", back.name
    assert np.array_equal(back.array(), pixels)

# The numpy face, which finds the FFT descriptor library in the plug-in's folder.
reference = np.random.default_rng(8).random((40, 64)).astype(np.float32)
shift = lumadex.registration.phase_cross_correlation(reference, np.roll(reference, (3, -5), axis=(0, 1)))
assert np.allclose(shift, (-3, 5), atol=1e-3), shift
(loaded,) = lumadex.io.load("noise.dm4")
assert np.array_equal(loaded.data, pixels)

print(f"python: lumadex {lumadex.__version__} from {package_dir}, plug-in {plugin}, "
      f"ZEPPureFFT of {pixels.shape[0]} x {pixels.shape[1]}, noise.dm4 saved and read back; "
      f"numpy face: registration shift {tuple(np.round(shift, 3))}, io.load")
