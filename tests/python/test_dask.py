"""Data larger than memory: lazy DM files, streamed writing and series registration on dask, on the local
schedulers and on a two-worker dask.distributed cluster; checked against the eager reader, HyperSpy's reader
and the in-memory registration."""

import logging
import os
import re
import struct
import subprocess
import sys

import numpy as np
import pytest

import lumadex
from lumadex import _lazy, io

da = pytest.importorskip("dask.array")
import dask  # noqa: E402

logging.getLogger("hyperspy").setLevel(logging.ERROR)
dm = pytest.importorskip("hyperspy.io_plugins.digital_micrograph")
from test_dm_files import BAD_FILES, CORPUS, needs_corpus, reference  # noqa: E402
from test_io import DTYPES, METADATA, pixels_of  # noqa: E402

# distributed 2022.12 on tornado 6.2 starts its event loop the deprecated way.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")

# --- a big-endian copy of a file ---------------------------------------------------

SIMPLE_SIZES = {2: 2, 3: 4, 4: 2, 5: 4, 6: 4, 7: 8, 8: 1, 9: 1, 10: 1, 11: 8, 12: 8}


def number_sizes(info, at):
    """The byte size of each number in a value of the type description info[at:], and where the description ends."""
    code = info[at]
    if code in SIMPLE_SIZES:
        return [SIMPLE_SIZES[code]], at + 1
    if code == 18:  # a string of bytes
        return [1] * info[at + 1], at + 2
    if code == 15:  # a struct: name length, field count, then per field a name length and a type
        sizes, fields, at = [], info[at + 2], at + 3
        for _ in range(fields):
            part, at = number_sizes(info, at + 1)
            sizes += part
        return sizes, at
    assert code == 20, code  # an array: the element's type, then the count
    element, at = number_sizes(info, at + 1)
    return element * info[at], at + 1


def big_endian(raw):
    """The same DM3 / DM4 file with its byte-order flag 0 and every number of every data tag swapped."""
    version = struct.unpack(">I", raw[:4])[0]
    w = 8 if version == 4 else 4
    out = bytearray(raw)
    out[4 + w:8 + w] = struct.pack(">I", 0)

    def word(at):
        return int.from_bytes(raw[at:at + w], "big")

    def group(at):  # sorted, open, count, then the tags
        count, at = word(at + 2), at + 2 + w
        for _ in range(count):
            at = tag(at)
        return at

    def tag(at):
        kind, length = raw[at], int.from_bytes(raw[at + 1:at + 3], "big")
        at += 3 + length + (8 if version == 4 else 0)
        if kind == 20:
            return group(at)
        count = word(at + 4)  # after "%%%%"
        info = [word(at + 4 + w * (1 + i)) for i in range(count)]
        at += 4 + w * (1 + count)
        sizes, _ = number_sizes(info, 0)
        if len(set(sizes)) == 1:  # numbers of one size: swapped at once
            n = len(sizes) * sizes[0]
            out[at:at + n] = np.frombuffer(raw, np.uint8, n, at).reshape(-1, sizes[0])[:, ::-1].tobytes()
            return at + n
        for size in sizes:
            out[at:at + size] = raw[at:at + size][::-1]
            at += size
        return at

    group(8 + w)
    return bytes(out)


def series_file(tmp_path, dtype, suffix=".dm4", order="little", shape=(5, 6, 7), seed=3):
    data = pixels_of(np.random.default_rng(seed), dtype, shape)
    path = tmp_path / f"series{suffix}"
    io.save(path, io.Dataset(data, name="series ü", metadata=METADATA))
    if order == "big":
        path.write_bytes(big_endian(path.read_bytes()))
    return path, data


# --- lazy reading --------------------------------------------------------------------


@pytest.mark.parametrize("order", ["little", "big"])
@pytest.mark.parametrize("suffix", [".dm4", ".dm3"])
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: np.dtype(d).name)
def test_lazy_load_equals_eager_load_for_every_data_type_byte_order_and_chunking(tmp_path, dtype, suffix, order):
    path, data = series_file(tmp_path, dtype, suffix, order)
    (eager,) = io.load(path)
    np.testing.assert_array_equal(eager.data, data)  # the big-endian copy holds the same pixels
    for chunks in [None, (2, 6, 7), (3, 4, 5), (1, 1, 7)]:
        (lazy,) = io.load(path, lazy=True, chunks=chunks)
        assert _lazy.is_dask_array(lazy.data) and lazy.data.dtype == data.dtype.newbyteorder("=")
        assert lazy == eager and lazy.metadata == eager.metadata and lazy.name == "series ü"
        assert len(lazy.data.chunks[1]) == len(lazy.data.chunks[2]) == 1 or chunks is not None


@needs_corpus
@pytest.mark.parametrize("path", CORPUS, ids=lambda p: os.path.basename(p))
def test_lazy_load_of_recorded_files_equals_eager_load(path):
    try:
        eager = io.load(path)
    except lumadex.FileError as error:  # the files the host cannot hold are refused alike
        with pytest.raises(lumadex.FileError, match=str(error).split(": ", 1)[1][:40]):
            io.load(path, lazy=True)
        return
    assert io.load(path, lazy=True) == eager


@pytest.mark.parametrize("shape, itemsize, chunks", [
    ((12, 8, 10), 4, ((3, 3, 3, 3), (8,), (10,))),          # 3 frames of 320 bytes a chunk
    ((3, 4, 8, 10), 4, ((1, 1, 1), (3, 1), (8,), (10,))),   # a 4-D scan: whole frames, split along both leading axes
    ((4, 20, 20), 4, ((1, 1, 1, 1), (20,), (20,))),         # a frame larger than a chunk stays whole
    ((50, 10), 4, ((25, 25), (10,))),                        # an image: whole rows
    ((1000,), 4, ((250,) * 4,)),                             # a spectrum
    ((2, 2, 3), 8, ((2,), (2,), (3,))),                      # small: one chunk
])
def test_default_chunks_hold_whole_frames_of_about_the_chunk_size(tmp_path, monkeypatch, shape, itemsize, chunks):
    monkeypatch.setattr(_lazy, "CHUNK_BYTES", 1000)
    path = io.save(tmp_path / "a.dm4", np.zeros(shape, {4: np.float32, 8: np.float64}[itemsize]))
    (lazy,) = io.load(path, lazy=True)
    assert lazy.data.chunks == chunks


def test_nothing_is_read_until_computed_and_then_only_the_chunk_asked_for(tmp_path, monkeypatch):
    path, data = series_file(tmp_path, np.float32, shape=(8, 16, 16))
    read = []
    preadv = os.preadv
    monkeypatch.setattr(os, "preadv", lambda fd, buffers, offset: read.append(sum(len(b) for b in buffers))
                        or preadv(fd, buffers, offset))
    (lazy,) = io.load(path, lazy=True, chunks=(2, -1, -1))
    assert read == []
    np.testing.assert_array_equal(lazy.data[4:6].compute(), data[4:6])
    assert read == [2 * 16 * 16 * 4]


@pytest.mark.parametrize("change", ["replaced", "truncated", "appended to", "removed"])
def test_a_file_changed_under_a_lazy_array_is_a_clear_error_from_the_task(tmp_path, change):
    path, data = series_file(tmp_path, np.float32, shape=(8, 16, 16))
    (lazy,) = io.load(path, lazy=True, chunks=(4, -1, -1))
    np.testing.assert_array_equal(lazy.data[:4].compute(), data[:4])
    if change == "replaced":
        io.save(path, data + 1)
    elif change == "truncated":
        os.truncate(path, os.path.getsize(path) // 2)
    elif change == "appended to":
        with open(path, "ab") as f:
            f.write(b"\0" * 16)
    else:
        os.remove(path)
    words = "cannot be opened" if change == "removed" else "changed since it was opened lazily"
    with pytest.raises(lumadex.FileError, match=f"{path}: {words}"):
        lazy.data.compute()


@pytest.mark.parametrize("content, words", BAD_FILES.values(), ids=BAD_FILES.keys())
def test_lazy_load_refuses_bad_files_as_the_eager_load_does(tmp_path, content, words):
    path = tmp_path / "bad.dm4"
    path.write_bytes(content)
    with pytest.raises(lumadex.FileError, match=words):
        io.load(path, lazy=True)


def test_lazy_arguments_and_a_lazy_hyperspy_signal(tmp_path):
    path, data = series_file(tmp_path, np.float32)
    with pytest.raises(TypeError, match="lazy is True or False"):
        io.load(path, lazy="yes")
    with pytest.raises(ValueError, match="chunks is for a lazy load"):
        io.load(path, chunks=(1, 6, 7))
    with pytest.raises(ValueError, match=r"chunks \(1, 2\) do not fit image 0 of shape \(5, 6, 7\)"):
        io.load(path, lazy=True, chunks=(1, 2))
    (lazy,) = io.load(path, lazy=True)
    signal = lazy.to_hyperspy()
    assert signal._lazy and _lazy.is_dask_array(signal.data) and "dask array" in repr(lazy)
    np.testing.assert_array_equal(signal.data.compute(), data)
    assert [a.name for a in signal.axes_manager._axes] == ["z", "y", "x"]


# --- streamed writing ----------------------------------------------------------------


@pytest.mark.parametrize("suffix", [".dm4", ".dm3"])
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: np.dtype(d).name)
def test_a_dask_array_saved_chunk_by_chunk_reads_back_equal_here_and_in_hyperspy(tmp_path, dtype, suffix):
    rng = np.random.default_rng(5)
    ndim = 1 + DTYPES.index(dtype) % 4
    data = pixels_of(rng, dtype, (7, 5, 4, 3)[-ndim:])
    chunks = (3, 2, 3, 2)[-ndim:]
    axes = [io.Axis(n, 0.25 * (k + 1), -1.5 * (k + 1), u)
            for k, (n, u) in enumerate(zip("tzyx"[-ndim:], ["s", "nm", "nm", "nm"][-ndim:]))]
    path = io.save(tmp_path / f"streamed{suffix}", da.from_array(data, chunks=chunks), axes=axes, name="lazy ü",
                   metadata=METADATA)
    (back,) = io.load(path)
    assert back == io.Dataset(data, axes, "lazy ü", back.metadata) and back.metadata["Big"] == 2**40
    (theirs, _, title, _), = reference(path)
    np.testing.assert_array_equal(theirs, data)
    assert title == "lazy ü"


def test_streamed_save_of_several_images_and_of_big_endian_chunks(tmp_path):
    numpy_image = io.Dataset(np.arange(12, dtype=np.int16).reshape(3, 4), name="in memory")
    swapped = np.arange(60, dtype=">f4").reshape(5, 3, 4)
    lazy_image = io.Dataset(da.from_array(swapped, chunks=(2, 3, 4)), name="lazy")
    first, second = io.load(io.save(tmp_path / "two.dm4", [numpy_image, lazy_image]))
    assert first == numpy_image and second.name == "lazy"
    np.testing.assert_array_equal(second.data, swapped) and second.data.dtype == np.float32


def test_a_failing_chunk_leaves_the_old_file_and_nothing_else(tmp_path):
    path = io.save(tmp_path / "kept.dm4", np.ones((2, 3), np.float32))

    def fail_on_third(block, block_info=None):
        if block_info[None]["chunk-location"][0] == 2:
            raise RuntimeError("chunk 2 cannot be computed")
        return block

    failing = da.zeros((8, 4, 4), np.float32, chunks=(2, 4, 4)).map_blocks(fail_on_third, dtype=np.float32)
    with pytest.raises(RuntimeError, match="chunk 2 cannot be computed"):
        io.save(path, failing)
    assert os.listdir(tmp_path) == ["kept.dm4"] and io.load(path)[0] == io.Dataset(np.ones((2, 3), np.float32))
    computed = []
    counted = da.zeros((4, 4), chunks=2).map_blocks(lambda b: computed.append(1) or b, meta=np.empty((0, 0)))
    with pytest.raises(lumadex.FileError, match="cannot be written"):
        io.save(tmp_path / "no" / "such.dm4", counted)
    assert computed == []  # nothing computed for a file that cannot be written
    with pytest.raises(ValueError, match="unknown chunk sizes"):
        io.save(tmp_path / "nan.dm4", counted[counted[:, 0] > 0])


# --- series registration on dask -------------------------------------------------------


@pytest.fixture(scope="module")
def drifting():
    """A textured series (32 frames of 96 x 96) on a known sub-pixel path, registered in memory."""
    from scipy import ndimage

    rng = np.random.default_rng(17)
    spectrum = np.fft.fft2(ndimage.gaussian_filter(rng.standard_normal((96, 96)), 2.0))
    path = np.cumsum(rng.normal(0, 0.7, (32, 2)), axis=0)
    path -= path[0]
    frames = np.stack([np.fft.ifft2(ndimage.fourier_shift(spectrum, p)).real for p in path]).astype(np.float32)
    frames += rng.normal(0, 0.02, frames.shape).astype(np.float32)
    return frames, path, lumadex.register_series(frames, reference=-3)


def assert_registered_alike(result, drifting):
    frames, path, expected = drifting
    assert np.abs(expected.drift - (path - path[-3])).max() < 0.1  # the in-memory result is itself right
    np.testing.assert_allclose(result.drift, expected.drift, atol=1e-4)
    np.testing.assert_allclose(result.average, expected.average, atol=1e-4)
    aligned = result.aligned.compute() if _lazy.is_dask_array(result.aligned) else result.aligned
    assert aligned.dtype == np.float32
    np.testing.assert_allclose(aligned, expected.aligned, atol=1e-4)


@pytest.mark.parametrize("given, aligned", [
    ("dask array", "lazy"), ("lazy dataset", "lazy"), ("lazy dataset", "memory"), ("frames split by chunks", "lazy"),
    ("list of dask frames", "memory"), ("numpy array", "dm4"), ("lazy dataset", "dm3"), ("dask array", "zarr"),
])
def test_dask_registration_equals_the_in_memory_one(tmp_path, drifting, given, aligned):
    frames = drifting[0]
    path = io.save(tmp_path / "series.dm4", frames)
    series = {"dask array": lambda: da.from_array(frames, chunks=(5, 96, 96)),
              "lazy dataset": lambda: io.load(path, lazy=True, chunks=(6, -1, -1))[0],
              "frames split by chunks": lambda: da.from_array(frames, chunks=(7, 50, 40)),
              "list of dask frames": lambda: [da.from_array(f) for f in frames],
              "numpy array": lambda: frames}[given]()
    if aligned in ("dm4", "dm3", "zarr"):
        if aligned == "zarr":
            pytest.importorskip("zarr")
        aligned = str(tmp_path / f"aligned.{aligned}")
    result = lumadex.registration.register_series(series, reference=-3, aligned=aligned)
    assert_registered_alike(result, drifting)
    if isinstance(aligned, str) and aligned.endswith(".dm4"):
        (written,) = io.load(aligned)
        np.testing.assert_allclose(written.data, drifting[2].aligned, atol=1e-4)


@pytest.mark.parametrize("shape", [(63, 80), (64, 81), (33, 33)])
def test_the_average_from_summed_spectra_equals_the_mean_of_the_aligned_frames(shape):
    # Without kept aligned frames the average is one inverse transform of their spectra's sum: the same
    # numbers as the mean of the frames aligned one by one, odd sizes (no Nyquist plane) and even alike.
    rng = np.random.default_rng(sum(shape))
    frames = rng.random((11,) + shape, dtype=np.float32) * 100
    frames[1:] += np.roll(frames[0], (2, -3), axis=(0, 1))
    result = lumadex.registration.register_series(da.from_array(frames, chunks=(4, -1, -1)), aligned="lazy")
    aligned = result.aligned.compute()
    np.testing.assert_allclose(result.average, aligned.mean(axis=0, dtype=np.float64), rtol=0, atol=2e-4)


@pytest.mark.parametrize("dtype", [np.float32, np.uint16])
def test_registration_of_a_big_endian_lazy_file_reads_each_frame_as_the_eager_load_does(tmp_path, drifting, dtype):
    # A lazy file's frames are read one at a time into one buffer, swapped where the file is big endian.
    frames = drifting[0]
    data = frames if dtype == np.float32 else np.clip(frames * 1000 + 30000, 0, 65535).astype(np.uint16)
    path = tmp_path / "series.dm4"
    io.save(path, data)
    path.write_bytes(big_endian(path.read_bytes()))
    (lazy,) = io.load(path, lazy=True, chunks=(4, -1, -1))
    result = lumadex.registration.register_series(lazy, aligned="memory")
    expected = lumadex.registration.register_series(io.load(path)[0].data)
    # The two runs may meet their transforms' plans at different moments (a measured plan rounds the last
    # bits differently); a frame read wrongly would move the drift by pixels.
    np.testing.assert_allclose(result.drift, expected.drift, atol=1e-5)
    np.testing.assert_allclose(result.aligned, expected.aligned, atol=1e-3 * max(1.0, float(np.abs(data).max())))


@pytest.mark.parametrize("series, keywords, error, words", [
    (lambda: da.zeros((4, 8)), {}, ValueError, r"a series is an array \(n, h, w\).*got shape \(4, 8\)"),
    (lambda: da.zeros((2, 3, 8, 8)), {}, ValueError, r"got shape \(2, 3, 8, 8\)"),
    (lambda: [da.zeros((8, 8)), da.zeros((8, 9))], {}, ValueError, r"frame 1 has \(8, 9\)"),
    (lambda: [da.zeros((8, 8)), da.zeros((2, 8, 8))], {}, ValueError, "frames must be 2-D; frame 1"),
    (lambda: da.zeros((3, 8, 8), dtype=np.complex64), {}, TypeError, "real numeric array; got dtype complex64"),
    (lambda: da.zeros((3, 8, 8)), {"reference": 3}, IndexError, "reference 3 is not a frame of a series of 3"),
    (lambda: da.zeros((3, 8, 8)), {"reference": 1.0}, TypeError, "reference is a frame's index, not float"),
    (lambda: da.zeros((3, 8, 8)), {"aligned": "out.tif"}, ValueError, "aligned is 'lazy', 'memory' or a path"),
    (lambda: da.zeros((3, 8, 8)), {"aligned": 42}, ValueError, "got 42"),
    (lambda: da.zeros((3, 8, 8)), {"normalization": "bogus"}, ValueError, "normalization must be"),
    (lambda: da.zeros((3, 8, 8)), {"mask_radius": -1}, ValueError, "mask_radius must be"),
    (lambda: (lambda x: x[x[:, 0, 0] >= 0])(da.zeros((3, 8, 8))), {}, ValueError, "unknown chunk sizes"),
])
def test_bad_series_are_clear_errors(series, keywords, error, words):
    with pytest.raises(error, match=words):
        lumadex.registration.register_series(series(), **keywords)


def test_progress_shows_dasks_bar_or_a_tqdm_bar(drifting, capsys):
    series = da.from_array(drifting[0], chunks=(8, 96, 96))
    lumadex.registration.register_series(series, progress=True)
    assert "100% Completed" in capsys.readouterr().out
    lumadex.registration.register_series(series, progress=True, aligned="memory")
    assert "register_series: 100%" in capsys.readouterr().err


# --- on a dask.distributed cluster of two worker processes ------------------------------------

WORKER_MEMORY = 1 << 30


@pytest.fixture(scope="module")
def cluster():
    """A LocalCluster of two worker processes x 1 thread, shared by the tests that compute on it."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, memory_limit=WORKER_MEMORY,
                                  dashboard_address=":0") as local:
        with distributed.Client(local, set_as_default=False) as client:
            yield client


@pytest.fixture
def on_cluster(cluster):
    with dask.config.set(scheduler=cluster):
        yield cluster


def peak_since_reset(reset=False):
    """This process's resident memory high-water mark in bytes (reset to the current size when asked)."""
    if reset:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM"))


def test_registration_and_streamed_save_on_the_cluster(tmp_path, drifting, on_cluster):
    path = io.save(tmp_path / "series.dm4", drifting[0])
    (series,) = io.load(path, lazy=True, chunks=(4, -1, -1))
    lazily = lumadex.registration.register_series(series, reference=-3)
    assert_registered_alike(lazily, drifting)
    with dask.config.set(scheduler="threads"):  # the lazy frames need nothing of the cluster
        np.testing.assert_allclose(lazily.aligned.compute(), drifting[2].aligned, atol=1e-4)
    result = lumadex.registration.register_series(series, reference=-3, aligned=str(tmp_path / "aligned.dm4"))
    assert_registered_alike(result, drifting)
    assert set(on_cluster.run(lambda: lumadex.get_num_threads()).values()) == {1}  # each worker's nthreads
    np.testing.assert_array_equal(io.load(io.save(tmp_path / "twice.dm4", 2 * series.data))[0].data, 2 * drifting[0])


# Under the address sanitizer every allocation carries shadow memory and a
# quarantine, so a worker's memory says nothing about the chunks it holds.
without_sanitizer = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                       reason="memory limits do not hold under the address sanitizer")


@without_sanitizer
def test_a_worker_stays_within_a_few_chunks_of_memory(tmp_path, on_cluster):
    frames = np.random.default_rng(2).random((384, 256, 256), dtype=np.float32)  # 96 MB in chunks of 1 MB
    path = io.save(tmp_path / "series.dm4", frames)
    (series,) = io.load(path, lazy=True, chunks=(4, -1, -1))
    lumadex.registration.register_series(series.data[:8])  # the workers' engines and plans, once
    workers = on_cluster.run(os.getpid)
    before = on_cluster.run(peak_since_reset, True)
    result = lumadex.registration.register_series(series)
    after = on_cluster.run(peak_since_reset)
    assert on_cluster.run(os.getpid) == workers  # no worker restarted
    for address in after:
        # Measured: about 10 MB (a chunk read, one aligned frame, the engine, partial sums), whatever the length.
        assert after[address] < WORKER_MEMORY and after[address] - before[address] < 24 << 20, (before, after)
    np.testing.assert_allclose(result.average, lumadex.registration.register_series(frames).average, atol=1e-5)


def test_a_changed_file_is_a_clear_error_from_a_worker(tmp_path, on_cluster):
    path, data = series_file(tmp_path, np.float32, shape=(8, 16, 16))
    (lazy,) = io.load(path, lazy=True)
    io.save(path, data)
    with pytest.raises(lumadex.FileError, match="changed since it was opened lazily"):
        lumadex.registration.register_series(lazy)


def test_a_worker_that_dies_is_replaced_and_the_result_stays_right(tmp_path, drifting, on_cluster):
    marker, here = str(tmp_path / "died"), os.getpid()

    def die_once(block):
        if os.getpid() == here:
            return block
        try:
            os.close(os.open(marker, os.O_CREAT | os.O_EXCL))
        except FileExistsError:
            return block
        os._exit(1)  # the first task of a worker to get here takes its worker process with it

    workers = set(on_cluster.run(os.getpid).values())
    series = da.from_array(drifting[0], chunks=(4, 96, 96)).map_blocks(die_once, meta=np.empty((0, 0, 0), np.float32))
    assert_registered_alike(lumadex.registration.register_series(series, reference=-3, aligned="memory"), drifting)
    assert os.path.exists(marker) and set(on_cluster.run(os.getpid).values()) != workers


@without_sanitizer
def test_the_main_jobs_out_of_core_run_on_a_small_series(tmp_path):
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "out_of_core.py")
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(lumadex.__file__)))
    run = subprocess.run([sys.executable, example, str(tmp_path / "pictures"), "--size", "96", "--frames", "48",
                          "--memory-limit", "500", "--dose", "50"], capture_output=True, text=True, timeout=300,
                         cwd=tmp_path, env=dict(os.environ, PYTHONPATH=package_root))
    assert run.returncode == 0, run.stderr
    assert float(re.search(r"drift RMS error (\S+) px", run.stdout).group(1)) < 0.1
    assert "workers restarted: none" in run.stdout and len(re.findall(r"peak memory \d+ MB", run.stdout)) == 2
    with open(tmp_path / "pictures" / "out_of_core_average.png", "rb") as png:
        assert png.read(8) == b"\x89PNG\r\n\x1a\n"
