"""lumadex.fft against scipy.fft: scipy's own test files through the backend protocol, results
and errors compared call by call, strided views, and two threads transforming at once."""

import json
import os
import pathlib
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
import scipy.fft
from scipy._lib.uarray import BackendNotImplementedError

import lumadex.fft

SCIPY_TESTS = pathlib.Path(scipy.fft.__file__).parent / "tests"
SCIPY_RUNNER = """
import json, sys
import pytest, scipy.fft
import lumadex.fft

class Counting:  # lumadex.fft as scipy's global backend, counting what it takes and declines
    __ua_domain__ = "numpy.scipy.fft"
    calls = {"handled": 0, "declined": 0}
    @staticmethod
    def __ua_function__(method, args, kwargs):
        result = lumadex.fft.__ua_function__(method, args, kwargs)
        Counting.calls["declined" if result is NotImplemented else "handled"] += 1
        return result

scipy.fft.set_global_backend(Counting)
scipy.fft.register_backend("scipy")  # what lumadex declines (hfft, dct, long double...)
code = pytest.main(["-q", "-p", "no:cacheprovider", *sys.argv[2:]])
with open(sys.argv[1], "w") as out:
    json.dump(Counting.calls, out)
sys.exit(code)
"""


def test_scipy_fft_test_files_pass_with_lumadex_as_backend(tmp_path):
    files = [str(SCIPY_TESTS / name) for name in ("test_numpy.py", "test_fft_function.py", "test_multithreading.py")]
    report = tmp_path / "report.json"
    # TestFFTThreadSafe compares results bit for bit across calls; a problem's
    # first calls run cheap plans until its measured plan arrives, whose
    # rounding differs in the last bits (1e-17 here), so on a slow run (the
    # sanitizers) a measured plan arriving mid-test fails it though every
    # result is right.
    skip = ["-k", "not TestFFTThreadSafe"]
    run = subprocess.run([sys.executable, "-c", SCIPY_RUNNER, str(report), "--rootdir", str(tmp_path), *skip, *files],
                         capture_output=True, text=True, timeout=600, cwd=tmp_path,
                         env={**os.environ, "PYTHONDONTWRITEBYTECODE": "1", "XDG_CACHE_HOME": str(tmp_path),
                              "PYTHONPATH": str(pathlib.Path(lumadex.fft.__file__).parents[1])})
    assert run.returncode == 0, run.stdout[-4000:] + run.stderr[-2000:]
    calls = json.loads(report.read_text())
    assert calls["handled"] > 4 * calls["declined"], calls  # most calls ran here


# --- results and errors compared with scipy.fft -------------------------------------------------

DTYPES = [np.float16, np.float32, np.float64, np.complex64, np.complex128, np.int32, np.bool_]
ONE_AXIS = ["fft", "ifft", "rfft", "irfft"]
MANY_AXES = ["fftn", "ifftn", "rfftn", "irfftn", "fft2", "ifft2", "rfft2", "irfft2"]
CASES = {
    "one": [((16,), {}), ((7, 10), {"axis": 0}), ((3, 4, 5), {"n": 3, "axis": 1}),
            ((3, 4, 5), {"n": 9, "norm": "ortho"}), ((2, 3, 4, 5, 6), {"axis": 2, "norm": "forward"}),
            ((0, 8), {}), ((1,), {})],
    "many": [((12,), {}), ((6, 10), {"norm": "forward"}), ((4, 5, 6), {"axes": (0, 2)}),
             ((3, 4, 5, 6), {"s": (5, -1, 4), "norm": "ortho"}), ((2, 3, 4, 5, 6), {}),
             ((2, 3, 2, 3, 2, 3), {"axes": (1, 3, 5), "norm": "ortho"}), ((3, 4, 5), {"axes": (2, 0), "s": (4, 7)}),
             ((2, 3, 2, 2, 3, 2), {"s": (3, 2, 3, 2, 4)}), ((0, 4, 6), {"axes": (1, 2)}), ((4, 1), {})],
}


def data(rng, shape, dtype):
    if np.dtype(dtype).kind == "c":
        return (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)
    if dtype is np.bool_:
        return rng.random(shape) > 0.5
    return (rng.standard_normal(shape) * 4).astype(dtype)


def outcome(call):
    try:
        return call()
    except Exception as error:  # noqa: BLE001 - the exception is the outcome compared
        return error


def assert_same_outcome(name, x, kwargs):
    """lumadex.fft's result or error for x equals scipy.fft's; x is left as it was."""
    before = x.copy()
    with scipy.fft.set_backend("scipy", only=True):
        want = outcome(lambda: getattr(scipy.fft, name)(x, **kwargs))
    got = outcome(lambda: getattr(lumadex.fft, name)(x, **kwargs))
    np.testing.assert_array_equal(x, before)
    if isinstance(want, Exception):
        assert isinstance(got, type(want)), f"scipy raised {want!r}, lumadex {got!r}"
        assert str(got).startswith(name + ": "), got
        return got
    assert not isinstance(got, Exception), got
    assert got.dtype == want.dtype and got.shape == want.shape
    tolerance = 2e-6 if want.dtype in (np.complex64, np.float32) else 1e-13
    assert np.linalg.norm(got - want) <= tolerance * np.linalg.norm(want)
    return got


@pytest.mark.parametrize("dtype", DTYPES, ids=lambda t: np.dtype(t).name)
@pytest.mark.parametrize("name, shape, kwargs",
                         [(f, *c) for f in ONE_AXIS for c in CASES["one"]] +
                         [(f, *c) for f in MANY_AXES for c in CASES["many"]], ids=str)
def test_results_match_scipy(rng, name, shape, kwargs, dtype):
    assert_same_outcome(name, data(rng, shape, dtype), kwargs)


# Lines the transform layer runs on code of its own rather than FFTW's plans:
# columns and rows of 3^k points, and real lines of even length (complex
# ones of half the length), in calls large enough for its line passes.
@pytest.mark.parametrize("dtype", [np.complex64, np.complex128, np.float32], ids=lambda t: np.dtype(t).name)
@pytest.mark.parametrize("name, shape, kwargs",
                         [("fft2", (729, 40), {}), ("ifft2", (40, 243), {"norm": "ortho"}), ("fftn", (3, 81, 100), {}),
                          ("fft", (243, 90), {"axis": 0}), ("rfft2", (60, 486), {}), ("irfft2", (60, 244), {})],
                         ids=str)
def test_lines_on_the_layers_own_code_match_scipy(rng, name, shape, kwargs, dtype):
    assert_same_outcome(name, data(rng, shape, dtype), kwargs)


def unaligned(x):
    raw = np.zeros(x.nbytes + 1, np.uint8)[1:]
    view = raw.view(x.dtype).reshape(x.shape)
    view[...] = x
    return view


def odd_strides(x):
    # A field of a packed record: steps of itemsize + 1 bytes, data one byte off.
    view = np.zeros(x.shape, [("pad", "u1"), ("v", x.dtype)])["v"]
    view[...] = x
    return view


VIEWS = {
    "reversed": lambda x: x[::-1, :, ::-2],
    "fortran": np.asfortranarray,
    "transposed": lambda x: x.transpose(2, 0, 1),
    "sliced": lambda x: x[1:, ::3, 1:-1],
    "broadcast": lambda x: np.broadcast_to(x[:1], x.shape),
    "byteswapped": lambda x: x.astype(x.dtype.newbyteorder()),
    "unaligned": unaligned,
    "odd strides": lambda x: odd_strides(x),
    "six dims, no merging": lambda x: x.reshape(2, 3, 2, 3, 2, 7)[:, ::2, :, ::2],
}


@pytest.mark.parametrize("dtype", [np.complex64, np.float64], ids=lambda t: np.dtype(t).name)
@pytest.mark.parametrize("view", list(VIEWS))
@pytest.mark.parametrize("name, kwargs", [("fft2", {}), ("fftn", {"axes": (0, -1)}), ("fft", {"axis": 0}),
                                          ("rfftn", {}), ("irfftn", {"axes": (1, 0)}), ("ifft", {"n": 5})])
def test_strided_views_match_scipy_and_stay_unchanged(rng, name, kwargs, view, dtype):
    assert_same_outcome(name, VIEWS[view](data(rng, (6, 6, 14), dtype)), kwargs)


def test_overwrite_x_may_use_the_input_and_is_right(rng):
    x = data(rng, (8, 12), np.complex128)
    want = scipy.fft.fft2(x)
    got = lumadex.fft.fft2(x, overwrite_x=True)
    np.testing.assert_allclose(got, want, rtol=0, atol=1e-12 * np.abs(want).max())
    frozen = data(rng, (8, 12), np.complex64)
    frozen.flags.writeable = False  # allowed to be overwritten, but it cannot be: a new result
    assert not np.shares_memory(lumadex.fft.ifftn(frozen, overwrite_x=True), frozen)


BAD = [("fft", {"n": 0}), ("fft", {"n": 2.5}), ("fft", {"axis": 3}), ("fft", {"axis": 1.0}),
       ("fft", {"norm": "unitary"}), ("fft", {"workers": 0}), ("ifft", {"workers": -1000}),
       ("fft", {"workers": 1.5}), ("fft2", {"axes": (0, 0)}), ("fftn", {"axes": (0, 5)}),
       ("fftn", {"s": (4, 5), "axes": (0,)}), ("fftn", {"s": (0, 4)}), ("ifftn", {"s": (1, 2, 3, 4)}),
       ("irfft", {"axis": 0}), ("irfftn", {"axes": ()}), ("rfftn", {"axes": ()}),
       ("fftn", {"axes": [[0]]})]


@pytest.mark.parametrize("name, kwargs", BAD, ids=str)
def test_bad_arguments_raise_what_scipy_raises_naming_the_function(rng, name, kwargs):
    assert_same_outcome(name, data(rng, (1, 6) if name == "irfft" else (4, 6), np.complex128), kwargs)


@pytest.mark.parametrize("name, x", [("rfft", np.ones(4, np.complex64)), ("fft2", np.ones(4)),
                                     ("fft", np.array(["a", "b"])), ("fft", np.array([1j, None]))])
def test_bad_inputs_raise_what_scipy_raises(name, x):
    error = assert_same_outcome(name, x, {})
    assert isinstance(error, Exception)


# --- the backend protocol ---------------------------------------------------------------------


def test_scipy_calls_come_here_and_what_is_not_here_goes_back_to_scipy(rng):
    x = data(rng, (8, 6), np.complex128)
    with scipy.fft.set_backend(lumadex.fft, only=True):
        routed = scipy.fft.fft2(x, norm="ortho")
        with pytest.raises(BackendNotImplementedError):
            scipy.fft.hfft(x)
        with pytest.raises(BackendNotImplementedError):
            scipy.fft.fft(np.ones(4, np.longdouble))
    np.testing.assert_allclose(routed, lumadex.fft.fft2(x, norm="ortho"), rtol=0, atol=1e-14)
    with pytest.raises(TypeError, match="fft: x has dtype float128"):
        lumadex.fft.fft(np.ones(4, np.longdouble))
    with scipy.fft.set_backend(lumadex.fft):
        assert scipy.fft.fft(np.ones(4, np.longdouble)).dtype == np.clongdouble  # scipy computed it


# --- threads -----------------------------------------------------------------------------------


def test_a_thread_transforms_while_another_ones_transform_runs(rng):
    """With the GIL handed over only when a thread lets it go, a second thread completes
    transforms during the first one's long transform: both run at once, and both are right."""
    big, small = data(rng, (1024, 1024), np.complex128), data(rng, (64, 64), np.complex64)
    results, stop = [], threading.Event()

    def second():
        while not stop.is_set():
            results.append(lumadex.fft.fft2(small, workers=1))
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100.0)
    thread = threading.Thread(target=second)
    try:
        thread.start()
        while not results:
            time.sleep(0.001)
        before = len(results)
        got = lumadex.fft.fft2(big, workers=1)
        during = len(results) - before
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert during > 0
    want = scipy.fft.fft2(big)
    assert np.linalg.norm(got - want) <= 1e-13 * np.linalg.norm(want)
    want_small = scipy.fft.fft2(small)
    assert all(np.linalg.norm(r - want_small) <= 2e-6 * np.linalg.norm(want_small) for r in results)
