"""The plug-in in child processes after its parent used it with several threads.

Each child is bounded by a timeout, so that a child hung in a dead thread pool
fails the test instead of hanging it.
"""

import multiprocessing
import os
import time

import numpy as np
import pytest

import lumadex
from lumadex import Ref

THREADS = 2
TIMEOUT = 30


def threaded_work(host):
    """An FFT, an element-wise function, a matrix product and a statistic, each
    large enough to run on THREADS threads (FFTW's or ours, OpenBLAS's)."""
    host.ZEPSetNumThreads(THREADS)
    a = np.random.default_rng(7).random((512, 512))
    spectrum = host.ZEPPureFFT(host.image(a.astype(np.complex64)), 1.0, None).array()
    exp = host.ZEPExp(host.image(a.astype(np.float32)), None).array()
    product = host.ZEPMatrixMultiply(False, False, False, 1.0, host.image(a), host.image(a), 0.0, None).array()
    survey = [Ref(0.0) for _ in range(5)]
    host.ZEPSurvey(host.image(a), *survey)
    return [spectrum[0, 0], spectrum[3, 5], exp.sum(dtype=np.float64), product.trace(), survey[2].value]


# The parent's host, which a forked worker inherits (open, or closed).
parent_host = None


def work_in_worker(_):
    if parent_host is not None and not parent_host.closed:
        return threaded_work(parent_host)
    with lumadex.Host() as host:
        return threaded_work(host)


def wait_bounded(pid):
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.02)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return "hung"


def test_a_forked_child_uses_everything_its_parent_used_at_the_same_thread_count(host):
    expected = threaded_work(host)
    pid = os.fork()
    if pid == 0:
        try:
            same = host.ZEPGetMaxThreads() == THREADS and np.allclose(threaded_work(host), expected, rtol=1e-6)
            os._exit(0 if same else 1)
        finally:
            os._exit(2)
    assert wait_bounded(pid) == 0


@pytest.mark.parametrize("method", ["fork", "forkserver", "spawn"])
@pytest.mark.parametrize("open_in_parent", [True, False], ids=["host-open", "host-closed"])
def test_a_process_pool_works_after_the_parent_used_the_plugin(method, open_in_parent):
    global parent_host
    parent_host = lumadex.Host()
    try:
        expected = threaded_work(parent_host)
        if not open_in_parent:
            parent_host.close()
        with multiprocessing.get_context(method).Pool(2) as pool:
            results = pool.map_async(work_in_worker, range(4)).get(timeout=TIMEOUT)
    finally:
        parent_host.close()
        parent_host = None
    np.testing.assert_allclose(results, [expected] * 4, rtol=1e-6)


def test_both_faces_share_one_fft_library_and_plan_cache():
    """FFTW's planner and wisdom are process-wide: the plug-in and the numpy face
    must reach them through one descriptor library (one plan cache, one planner
    thread), else one imports wisdom while the other's planner thread measures."""
    frames = np.random.default_rng(3).random((3, 256, 256)).astype(np.float32)
    lumadex.registration.register_series(frames)
    with lumadex.Host() as host:
        host.ZEPPureFFT(host.image(frames[0].astype(np.complex64)), 1.0, None)
        with open("/proc/self/maps") as maps:
            libraries = {line.split()[-1] for line in maps if "lumadex_dfti" in line}
        assert len(libraries) == 1, libraries
        for module in (lumadex.default_plugin_path(), lumadex._arrays.__file__):
            imported = os.popen(f"nm -D --undefined-only {module}").read()
            assert "DftiComputeForward" in imported, f"{module} carries its own copy of the descriptor layer"
