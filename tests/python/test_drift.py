"""Drift correction: known drifts are recovered and the main job's workflow runs."""

import os
import runpy

import numpy as np
import pytest
from scipy import ndimage

from lumadex.drift import register_series

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "drift_correction.py")


def particles(shape, rng):
    y, x = np.mgrid[0 : shape[0], 0 : shape[1]]
    image = 1.0 + 0.3 * ndimage.gaussian_filter(rng.standard_normal(shape), 1.5) / 0.2
    for cy, cx, r in zip(rng.uniform(0, shape[0], 25), rng.uniform(0, shape[1], 25), rng.uniform(2, 6, 25)):
        image += 2 * np.exp(-((y - cy) ** 2 + (x - cx) ** 2) / (2 * r * r))
    return image


@pytest.mark.parametrize("shape", [(128, 128), (97, 120)])
def test_known_drifts_are_recovered_and_undone(host, rng, shape):
    base = particles(shape, rng)
    drifts = np.array([(0, 0), (3, -5), (-2.5, 1.25), (0.37, -1.6), (-7.8, 6.1)])
    frames = [np.fft.ifft2(ndimage.fourier_shift(np.fft.fft2(base), d)).real for d in drifts]
    result = register_series(host, frames)
    np.testing.assert_allclose(result.drift, drifts, atol=0.03)
    # Shifted back, every frame is the first again (up to the measured error).
    for aligned in result.aligned:
        assert np.abs(aligned - frames[0]).max() < 0.1 * np.ptp(frames[0])
    assert result.average.shape == shape


def test_bad_series_raise_clear_errors(host):
    with pytest.raises(ValueError, match="at least one frame"):
        register_series(host, [])
    with pytest.raises(ValueError, match="one shape"):
        register_series(host, [np.zeros((8, 8)), np.zeros((8, 9))])


def test_the_main_jobs_workflow_runs_small_and_beats_its_reference(tmp_path):
    main = runpy.run_path(EXAMPLE)["main"]
    ours, theirs = main([str(tmp_path), "--size", "192", "--frames", "6"])
    assert ours < 0.05 and ours <= theirs
    assert len(list(tmp_path.glob("series_*.png"))) == 4
