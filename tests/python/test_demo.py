"""The README's main job: examples/demo.py runs and writes its pictures."""

import os
import re
import subprocess
import sys

import lumadex

DEMO = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "demo.py")


def test_demo_writes_its_pictures_and_a_small_round_trip_error(tmp_path):
    out = tmp_path / "pictures"
    # The package this test imports, wherever PYTHONPATH found it (it may be a relative path).
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(lumadex.__file__)))
    environment = dict(os.environ, PYTHONPATH=package_root)
    run = subprocess.run([sys.executable, DEMO, str(out), "--size", "96"],
                         capture_output=True, text=True, timeout=120, cwd=tmp_path, env=environment)
    assert run.returncode == 0, run.stderr
    for picture in ("power_spectrum.png", "round_trip.png"):
        with open(out / picture, "rb") as png:
            assert png.read(8) == b"\x89PNG\r\n\x1a\n"
    error = float(re.search(r"round-trip error (\S+) \(max\)", run.stdout).group(1))
    assert error < 1e-5
    spacing = float(re.search(r"lattice spacing (\S+) nm \(generated", run.stdout).group(1))
    assert abs(spacing - 0.213) < 0.01
    assert re.search(r"zep::PureFFTDM\s+1 calls", run.stdout)
