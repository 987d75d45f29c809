#!/usr/bin/python3
"""Series registration per frame against the transforms it needs, as ratios measured in one run.

A series of 30 frames of 1024 x 1024 float32 (a textured image drifting along
a known sub-pixel path) is registered, in a fresh process with an empty plan
cache, at 1 thread:
  numpy     lumadex.register_series(frames): the numpy face, from the first frame
  first     its first frame alone
  host      lumadex.register_series(host, frames): the same through the host's script functions
  touch     writing a fresh array of the aligned frames' size for the first time (np.empty + fill),
            right after the numpy run and beside its result: the page faults that any registration
            pays to give its aligned frames back in new memory, which on this virtual machine cost
            anywhere from 1 to 14 ms a frame depending on whether the host has backed the pages yet
  fft3      three settled ZEPPureFFT calls of a 1024 x 1024 Complex 8 frame (the floor: the
            drift workflow needs three transforms of the frame's size per frame)
  skimage   skimage.registration.phase_cross_correlation (upsample_factor=20) + scipy.ndimage.shift
            (order 1) per frame, on 5 frames
Target: numpy/fft3 <= 1.5 per frame; (numpy - touch)/fft3 is the same without the fresh memory.

    PYTHONPATH=build/python /usr/bin/python3 bench/registration/registration_bench.py [threads]
"""

import os
import subprocess
import sys
import tempfile
import time

import numpy as np

FRAMES, SIZE = 30, 1024


def series():
    from scipy import ndimage

    rng = np.random.default_rng(7)
    base = ndimage.gaussian_filter(rng.standard_normal((SIZE, SIZE)), 2.0)
    spectrum = np.fft.rfft2(base)
    ky = np.fft.fftfreq(SIZE)[:, None]
    kx = np.fft.rfftfreq(SIZE)[None, :]
    path = np.array([(0.37 * k, -0.61 * k) for k in range(FRAMES)])
    frames = np.empty((FRAMES, SIZE, SIZE), np.float32)
    for k, (dy, dx) in enumerate(path):
        frames[k] = np.fft.irfft2(spectrum * np.exp(-2j * np.pi * (ky * dy + kx * dx)), s=(SIZE, SIZE))
    return frames, path


def child(threads):
    import lumadex

    lumadex.set_num_threads(threads)
    frames, path = series()
    started = time.perf_counter()
    lumadex.register_series(frames[:1])
    first = time.perf_counter() - started
    started = time.perf_counter()
    result = lumadex.register_series(frames)
    numpy_face = (time.perf_counter() - started) / FRAMES
    error = np.abs(result.drift - path).max()
    started = time.perf_counter()
    fresh = np.empty_like(result.aligned)
    fresh.fill(1.0)
    touch = (time.perf_counter() - started) / FRAMES
    del fresh

    with lumadex.Host() as host:
        started = time.perf_counter()
        lumadex.register_series(host, frames)
        host_face = (time.perf_counter() - started) / FRAMES
        image = host.image(frames[0].astype(np.complex64))
        for _ in range(40):
            host.ZEPPureFFT(image, 1.0, image)
        times = []
        for _ in range(30):
            started = time.perf_counter()
            host.ZEPPureFFT(image, 1.0, image)
            times.append(time.perf_counter() - started)
        fft3 = 3 * float(np.median(times))

    from scipy import ndimage
    from skimage.registration import phase_cross_correlation

    started = time.perf_counter()
    for frame in frames[:5]:
        shift = phase_cross_correlation(frames[0], frame, upsample_factor=20)[0]
        ndimage.shift(frame, shift, order=1)
    skimage = (time.perf_counter() - started) / 5

    print("%3d %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %10.2f %13.2f %11.2f %12.1f %9.3f" % (
        threads, 1e3 * numpy_face, 1e3 * first, 1e3 * touch, 1e3 * host_face, 1e3 * fft3, 1e3 * skimage,
        numpy_face / fft3, (numpy_face - touch) / fft3, host_face / numpy_face, skimage / numpy_face, error))


def main():
    if os.environ.get("REGISTRATION_BENCH_CHILD"):
        child(int(sys.argv[1]))
        return
    print("ms per frame, %d frames of %d x %d float32; fresh process, empty plan cache; target numpy/fft3 <= 1.5"
          % (FRAMES, SIZE, SIZE))
    print("%3s %8s %8s %8s %8s %8s %8s %10s %13s %11s %12s %9s" % (
        "thr", "numpy", "first", "touch", "host", "fft3", "skimage", "numpy/fft3", "(n-touch)/fft3",
        "host/numpy", "skimage/numpy", "drift err"))
    for threads in sys.argv[1:] or ["1", "2"]:
        with tempfile.TemporaryDirectory() as cache:
            env = dict(os.environ, REGISTRATION_BENCH_CHILD="1", XDG_CACHE_HOME=cache, OMP_NUM_THREADS=threads)
            subprocess.run([sys.executable, __file__, threads], env=env, check=True)


if __name__ == "__main__":
    main()
