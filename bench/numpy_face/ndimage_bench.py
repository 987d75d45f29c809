"""Speed of lumadex.ndimage and lumadex.measure against scipy.ndimage and numpy, in one run.

Per case, the best of several runs in ms (the least disturbed by other
processes on a shared machine) of the reference (scipy.ndimage or numpy,
which run single-threaded) and of lumadex at 1 and 2 threads
(lumadex.set_num_threads), and the ratios reference / lumadex. Each lumadex result is checked against
the reference before it is timed. Targets: fourier_shift >= 10x, the warps
at order 1 >= 5x, min_max >= 2x, bin2 >= 10x.

Under each min_max row, the time of one plain read of the same bytes (numpy's
bitwise-or reduction of them as uint64, a vector loop at the memory's pace)
and the ratio a pass as fast as that read would reach. argmin and argmax
each read at about that pace, so no single pass reaches much more than 2x.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/numpy_face/ndimage_bench.py [--quick] [word ...]
(words: run only the cases whose names hold one of them, e.g. min_max)
"""

import math
import sys
import time

import numpy as np
import scipy.ndimage as ndi

import lumadex
from lumadex import measure
from lumadex import ndimage as lnd


def best_ms(call, budget_s=1.5, least=5, most=40):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < least or (time.perf_counter() - start < budget_s and len(times) < most):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return min(times)


def rotation(degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return np.array([[c, s], [-s, c]])


def cases(size):
    rng = np.random.default_rng(1)
    image = rng.standard_normal((size, size)).astype(np.float32)
    image64 = image.astype(np.float64)
    depth = max(8, size // 16)
    volume = rng.standard_normal((depth, size // 8, size // 8)).astype(np.float32)
    spectrum = np.fft.fft2(image).astype(np.complex64)
    spectrum128 = spectrum.astype(np.complex128)
    camera = rng.integers(0, 4096, size=(size, size)).astype(np.uint16)
    matrix, matrix3 = rotation(7.0), np.array([[1.0, 0.05, 0.0], [0.0, 0.98, 0.1], [-0.1, 0.0, 1.02]])
    h = size // 2

    # (name, target ratio, reference, lumadex, compare): compare(ours, reference) raises when they differ.
    close = lambda a, b: np.testing.assert_allclose(a, b, rtol=1e-4, atol=1e-4 * np.abs(b).max())
    equal = np.testing.assert_array_equal
    same_tuple = lambda a, b: np.testing.assert_equal(tuple(a), tuple(b))
    yield (f"fourier_shift {size}^2 c8", 10, lambda: ndi.fourier_shift(spectrum, (3.3, -7.6)),
           lambda: lnd.fourier_shift(spectrum, (3.3, -7.6)), close)
    yield (f"fourier_shift {size}^2 c16", 10, lambda: ndi.fourier_shift(spectrum128, (3.3, -7.6)),
           lambda: lnd.fourier_shift(spectrum128, (3.3, -7.6)), close)
    for mode in ("constant", "nearest", "grid-constant"):
        yield (f"shift {size}^2 f4 {mode}", 5, lambda m=mode: ndi.shift(image, (1.3, -2.7), order=1, mode=m),
               lambda m=mode: lnd.shift(image, (1.3, -2.7), order=1, mode=m), equal)
    yield (f"shift {size}^2 f8 constant", 5, lambda: ndi.shift(image64, (1.3, -2.7), order=1),
           lambda: lnd.shift(image64, (1.3, -2.7), order=1), equal)
    yield (f"zoom x1.25 {size}^2 f4", 5, lambda: ndi.zoom(image, 1.25, order=1),
           lambda: lnd.zoom(image, 1.25, order=1), equal)
    yield (f"zoom x0.5 {size}^2 f4 grid", 5,
           lambda: ndi.zoom(image, 0.5, order=1, mode="grid-constant", grid_mode=True),
           lambda: lnd.zoom(image, 0.5, order=1, mode="grid-constant", grid_mode=True), equal)
    yield (f"affine 7deg {size}^2 f4", 5, lambda: ndi.affine_transform(image, matrix, (40.0, -60.0), order=1),
           lambda: lnd.affine_transform(image, matrix, (40.0, -60.0), order=1), equal)
    yield (f"rotate 7deg {size}^2 f4", 5, lambda: ndi.rotate(image, 7.0, reshape=False, order=1),
           lambda: lnd.rotate(image, 7.0, reshape=False, order=1), close)
    yield (f"shift {volume.shape} f4", 5, lambda: ndi.shift(volume, (0.5, 1.3, -2.7), order=1),
           lambda: lnd.shift(volume, (0.5, 1.3, -2.7), order=1), equal)
    yield (f"zoom x1.5 {volume.shape} f4", 5, lambda: ndi.zoom(volume, 1.5, order=1),
           lambda: lnd.zoom(volume, 1.5, order=1), equal)
    yield (f"affine {volume.shape} f4", 5, lambda: ndi.affine_transform(volume, matrix3, (1.0, 2.0, -3.0), order=1),
           lambda: lnd.affine_transform(volume, matrix3, (1.0, 2.0, -3.0), order=1), equal)
    yield (f"rotate 7deg planes {volume.shape}", 5, lambda: ndi.rotate(volume, 7.0, axes=(1, 2), order=1),
           lambda: lnd.rotate(volume, 7.0, axes=(1, 2), order=1), close)

    def argmin_argmax(a):
        low, high = np.argmin(a), np.argmax(a)
        return np.unravel_index(low, a.shape), np.unravel_index(high, a.shape)

    for name, a in ((f"{size}^2 f4", image), (f"{size}^2 u2", camera)):
        yield (f"min_max {name}", 2, lambda a=a: argmin_argmax(a),
               lambda a=a: (lambda r: (r.min_index, r.max_index))(measure.min_max(a)), same_tuple,
               lambda words=a.reshape(-1).view(np.uint64): np.bitwise_or.reduce(words))
    yield (f"bin2 {size}^2 f4", 10, lambda: image.reshape(h, 2, h, 2).mean(axis=(1, 3)),
           lambda: measure.bin2(image), close)
    yield (f"bin2 {size}^2 u2->f4", 10, lambda: camera.reshape(h, 2, h, 2).mean(axis=(1, 3), dtype=np.float32),
           lambda: measure.bin2(camera), close)


def main():
    size = 512 if "--quick" in sys.argv else 2048
    words = [w for w in sys.argv[1:] if not w.startswith("--")]
    before = lumadex.get_num_threads()
    rows = []
    try:
        for name, target, reference, ours, compare, *read in cases(size):
            if words and not any(w in name for w in words):
                continue
            compare(ours(), reference())
            reference_ms = best_ms(reference, least=3)
            read_ms = best_ms(read[0], least=3) if read else None
            timings = []
            for threads in (1, 2):
                lumadex.set_num_threads(threads)
                timings.append(best_ms(ours))
            rows.append((name, target, reference_ms, timings))
            ratios = [reference_ms / t for t in timings]
            flag = "" if min(ratios) >= target else "  below target"
            print(f"{name:34s} ref {reference_ms:8.2f}  lumadex 1t {timings[0]:7.2f} 2t {timings[1]:7.2f}  "
                  f"ratio {ratios[0]:6.1f}x {ratios[1]:6.1f}x  (target {target}x){flag}", flush=True)
            if read_ms is not None:
                print(f"{'  one read of the bytes, 1t':34s}     {read_ms:8.2f}  ref / read {reference_ms / read_ms:5.2f}x  "
                      f"1t pass / read {timings[0] / read_ms:5.2f}", flush=True)
    finally:
        lumadex.set_num_threads(before)


if __name__ == "__main__":
    main()
