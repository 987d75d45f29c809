"""lumadex.registration on numpy arrays: scikit-image's sign, the host face's drift, clear errors."""

import os
import pickle

import numpy as np
import pytest
from scipy import ndimage
from skimage.registration import phase_cross_correlation as skimage_pcc

import lumadex
from lumadex import registration


def textured(shape, seed=0):
    rng = np.random.default_rng(seed)
    return ndimage.gaussian_filter(rng.standard_normal(shape), 2.0).astype(np.float32)


@pytest.mark.parametrize("shape", [(64, 64), (63, 50), (24, 20, 18)])
@pytest.mark.parametrize("normalization", ["half", "phase", None])
def test_whole_pixel_shifts_match_scikit_image(shape, normalization):
    reference = textured(shape)
    roll = (5, -7, 3)[: len(shape)]
    moving = np.roll(reference, roll, axis=tuple(range(len(shape))))
    before = moving.copy()
    shift = registration.phase_cross_correlation(reference, moving, normalization=normalization)
    expected = skimage_pcc(reference, moving, normalization="phase" if normalization else None)[0]
    np.testing.assert_allclose(shift, expected, atol=0.05)
    np.testing.assert_allclose(np.roll(moving, np.round(shift).astype(int), axis=tuple(range(len(shape)))), reference)
    np.testing.assert_array_equal(moving, before)


def test_sub_pixel_shift_registers_the_moving_image():
    reference = textured((128, 96), seed=1)
    true_shift = np.array([2.3, -4.6])
    moving = np.fft.ifft2(ndimage.fourier_shift(np.fft.fft2(reference), -true_shift)).real
    shift = registration.phase_cross_correlation(reference, moving.astype(np.float64))
    np.testing.assert_allclose(shift, true_shift, atol=0.15)


def drifting_series(count=5, shape=(96, 80)):
    base = textured(shape, seed=2)
    path = np.array([(0.35 * k, -0.6 * k) for k in range(count)])
    frames = np.stack([np.fft.ifft2(ndimage.fourier_shift(np.fft.fft2(base), d)).real for d in path])
    return frames.astype(np.float32), path


def test_series_agrees_with_the_host_face():
    frames, path = drifting_series()
    numpy_face = lumadex.register_series(frames)
    with lumadex.Host() as host:
        host_face = lumadex.register_series(host, frames)
    np.testing.assert_allclose(numpy_face.drift, host_face.drift, atol=1e-4)
    np.testing.assert_allclose(numpy_face.aligned, host_face.aligned, atol=1e-5 * np.abs(frames).max())
    np.testing.assert_allclose(numpy_face.drift, path, atol=0.15)
    assert numpy_face.aligned.dtype == np.float32 and numpy_face.average.dtype == np.float64


def test_series_of_whole_pixel_moves_aligns_exactly_and_accepts_any_real_frames():
    base = textured((40, 48), seed=3)
    frames = [np.roll(base, (k, -2 * k), axis=(0, 1)).astype(np.float64) for k in range(4)]
    result = registration.register_series(frames, reference=-1, normalization="phase")
    np.testing.assert_allclose(result.drift, [(k - 3, -2 * (k - 3)) for k in range(4)], atol=1e-3)
    for aligned in result.aligned:
        np.testing.assert_allclose(aligned, frames[-1], atol=1e-4)
    lumadex.set_num_threads(1)
    try:
        single = registration.register_series(np.stack(frames), reference=3, normalization="phase")
    finally:
        lumadex.set_num_threads(2)
    np.testing.assert_array_equal(single.drift, result.drift)


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda: registration.phase_cross_correlation(np.zeros((8, 8)), np.zeros((8, 9))), ValueError, "shape"),
        (lambda: registration.phase_cross_correlation(np.zeros(8), np.zeros(8)), ValueError, "2-D or 3-D"),
        (lambda: registration.phase_cross_correlation(np.zeros((8, 8), complex), np.zeros((8, 8))), TypeError, "real"),
        (lambda: registration.phase_cross_correlation(np.zeros((8, 8)), np.zeros((8, 8)), normalization="x"),
         ValueError, "normalization"),
        (lambda: registration.phase_cross_correlation(np.zeros((8, 8)), np.zeros((8, 8)), mask_radius=-1), ValueError,
         "mask_radius"),
        (lambda: registration.register_series([]), ValueError, "at least one frame"),
        (lambda: registration.register_series([np.zeros((8, 8)), np.zeros((8, 9))]), ValueError, "frame 1"),
        (lambda: registration.register_series(np.zeros((2, 8, 8)), reference=2), IndexError, "reference"),
        (lambda: registration.register_series(np.zeros((2, 8, 8)), 1), TypeError, "positional"),
    ],
)
def test_bad_input_is_refused_clearly(call, error, words):
    with pytest.raises(error, match=words):
        call()


def test_the_aligned_series_is_an_ordinary_array_whose_memory_goes_with_it():
    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    base = textured((256, 256), seed=5)
    result = registration.register_series(np.stack([base] * 3))
    aligned = result.aligned
    assert aligned.dtype == np.float32 and aligned.flags.c_contiguous and aligned.flags.writeable
    aligned[0, 0, 0] = 7.0  # the caller's to change
    copy = pickle.loads(pickle.dumps(aligned))
    np.testing.assert_array_equal(copy, aligned)
    del result, aligned
    big = registration.register_series([base] * 1200).aligned  # 300 MB
    before = resident_bytes()
    del big
    assert resident_bytes() < before - (200 << 20)
