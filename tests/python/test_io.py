"""lumadex.io: DM files as numpy arrays with calibrated axes, checked against HyperSpy's reader and signals."""

import logging
import os
import re

import numpy as np
import pytest

import lumadex
from lumadex import io

logging.getLogger("hyperspy").setLevel(logging.ERROR)
dm = pytest.importorskip("hyperspy.io_plugins.digital_micrograph")
from test_dm_files import assert_tags_equal, plain, reference  # noqa: E402  (HyperSpy's reading, in one form)

HYPERSPY_FILES = os.path.join(os.path.dirname(dm.__file__), "..", "tests", "io")
RECORDED = ["dm3_1D_data/test-EELS_spectrum.dm3", "dm3_2D_data/test_STEM_image.dm3",
            "dm3_2D_data/test_diffraction_pattern.dm3", "dm3_2D_data/multi_signal.dm3", "dm3_3D_data/test-1.dm3",
            "dm4_2D_data/test-MonoCL_spectrum-SI.dm4", "dm4_1D_data/test-9.dm4"]
DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32, np.float64,
          np.complex64, np.complex128, np.bool_]
METADATA = {"Microscope": {"Voltage": 300000.0, "Name": "TEM ø", "Lenses": [1, 2.5, "C3", {"on": 1}, [7, 8]]},
            "Count": -7, "Flag": True, "Big": 2**40, "Empty": {}}


def pixels_of(rng, dtype, shape):
    if np.dtype(dtype).kind == "c":
        return (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)
    return (rng.random(shape) * 300 - 100).astype(dtype)


@pytest.mark.parametrize("suffix", [".dm4", ".dm3"])
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: np.dtype(d).name)
def test_every_data_type_and_rank_round_trips_and_reads_as_hyperspy_reads_it(rng, tmp_path, dtype, suffix):
    ndim = 1 + DTYPES.index(dtype) % 4
    data = pixels_of(rng, dtype, (5, 4, 3, 2)[-ndim:])
    # Scales and offsets that 32-bit floats hold (offset = -origin * scale); a name of the host's own is kept.
    axes = [io.Axis(name, 0.25 * (k + 1), -1.5 * (k + 1), units)
            for k, (name, units) in enumerate(zip(["t", "energy", "y", "x"][-ndim:], ["s", "eV", "1/µm", "nm"]))]
    saved = io.Dataset(data, axes, "saved ü", METADATA)
    path = io.save(tmp_path / f"image{suffix}", saved)
    (back,) = io.load(path)
    assert back == saved and back.metadata["Big"] == 2**40 and back.metadata["Flag"] == 1
    back.data[...] = back.data[(0,) * ndim]  # the array read is the caller's own
    # HyperSpy reads the same pixels, calibrations and title from the file.
    (theirs, their_axes, title, tags), = reference(path)
    np.testing.assert_array_equal(theirs, data)
    assert title == "saved ü" and plain(tags)["Microscope"]["Name"] == "TEM ø"
    for ours, their in zip(axes, their_axes):
        assert (their["scale"], their["offset"], their["units"]) == (ours.scale, ours.offset, ours.units)


def test_several_images_default_axes_and_a_dataset_updated_on_save(tmp_path):
    first = io.Dataset(np.arange(6, dtype=np.float32).reshape(2, 3))
    second = io.Dataset(np.ones((2, 2, 2, 2), np.uint16), name="stack", metadata={"a": "b"})
    assert [a.name for a in first.axes] == ["y", "x"] and [a.name for a in second.axes] == ["", "z", "y", "x"]
    assert io.load(io.save(tmp_path / "two.dm4", [first, second])) == [first, second]
    (renamed,) = io.load(io.save(tmp_path / "one.dm4", second, name="renamed", metadata={}))
    assert renamed == io.Dataset(second.data, second.axes, "renamed")
    np.testing.assert_array_equal(first.coordinates(-1), [0, 1, 2])


@pytest.mark.parametrize("name", RECORDED)
def test_recorded_files_load_as_hyperspy_reads_them(name):
    path = os.path.join(HYPERSPY_FILES, name)
    ours = io.load(path)
    expected = reference(path)
    assert len(ours) == len(expected)
    for dataset, (data, axes, title, tags) in zip(ours, expected):
        np.testing.assert_array_equal(dataset.data, data)
        assert dataset.name == title
        positional = all(a["name"] in ("x", "y", "z") or not isinstance(a["name"], str) for a in axes)
        for axis, theirs in zip(dataset.axes, axes):
            assert (axis.scale, axis.offset, axis.units) == (theirs["scale"], theirs["offset"], theirs["units"])
            if positional and isinstance(theirs["name"], str):  # HyperSpy names EELS, EDS and CL axes otherwise
                assert axis.name == theirs["name"]
        assert_tags_equal(plain(dataset.metadata), plain(tags))


def test_to_and_from_hyperspy(rng):
    hs = pytest.importorskip("hyperspy.api")
    for data in (pixels_of(rng, np.float32, (3, 4, 5)), pixels_of(rng, np.complex128, (6,))):
        axes = [io.Axis(n, 0.5, -1.0, "nm") for n in ["z", "", "x"][-data.ndim:]]
        dataset = io.Dataset(data, axes, "signal", {"Sample": {"Name": "gold", "Counts": [1, 2]}})
        signal = dataset.to_hyperspy()
        np.testing.assert_array_equal(signal.data, data)
        assert signal.metadata.General.title == "signal"
        assert signal.original_metadata.as_dictionary() == dataset.metadata
        ordered = sorted(signal.axes_manager._axes, key=lambda a: a.index_in_array)
        assert [(a.scale, a.offset, a.units, a.size) for a in ordered] == [(0.5, -1.0, "nm", n) for n in data.shape]
        assert io.from_hyperspy(signal) == dataset
    # HyperSpy's own reading of a file gives what lumadex.io reads from it.
    path = os.path.join(HYPERSPY_FILES, "dm3_2D_data/test_STEM_image.dm3")
    (ours,) = io.load(path)
    theirs = io.from_hyperspy(hs.load(path))
    np.testing.assert_array_equal(theirs.data, ours.data)
    assert (theirs.axes, theirs.name) == (ours.axes, ours.name)
    assert_tags_equal(plain(theirs.metadata), plain(ours.metadata))
    with pytest.warns(UserWarning, match=r"left out 1 values.*\['Nothing'\] \(NoneType\)"):
        signal = hs.signals.Signal1D(np.zeros(3), original_metadata={"Nothing": None, "Kept": 1})
        assert io.from_hyperspy(signal).metadata == {"Kept": 1}


@pytest.mark.parametrize("function", ["ZEPFFT", "ZEPRealFFT", "ZEPHalfFFT"])
@pytest.mark.parametrize("shape", [(6, 8), (5, 7)], ids=["even", "odd"])
def test_zero_frequency_of_centred_spectra_lies_at_coordinate_zero(host, tmp_path, function, shape):
    source = host.image(np.ones(shape, np.complex64 if function == "ZEPFFT" else np.float32))
    for dim in range(2):
        source.set_calibration(dim, 3.0, 0.5, "nm")
    getattr(host, function)(source, 1.0, None).save(tmp_path / "spectrum.dm4")
    (spectrum,) = io.load(tmp_path / "spectrum.dm4")
    centred = [0, 1] if function != "ZEPHalfFFT" else [0]  # the half layout's x starts at the zero frequency
    for axis, size in enumerate(spectrum.data.shape):
        coordinates = spectrum.coordinates(axis)
        assert spectrum.axes[axis].scale == pytest.approx(1 / (shape[axis] * 0.5))
        assert coordinates[size // 2 if axis in centred else 0] == 0.0
    # A real-space axis with the same origin keeps -origin * scale.
    source.set_calibration(0, shape[1] // 2 + 0.5, 0.5, "nm")
    source.save(tmp_path / "image.dm4")
    assert io.load(tmp_path / "image.dm4")[0].axes[1].offset == -(shape[1] // 2 + 0.5) * 0.5


BAD_SAVES = [
    ({"data": np.arange(4)}, TypeError, "data has dtype int64; a DM file holds int8"),
    ({"data": np.zeros(3, np.float16)}, TypeError, "dtype float16"),
    ({"data": np.zeros((1,) * 5)}, ValueError, "5 dimensions .* holds 1 to 4"),
    ({"data": np.zeros((2, 0))}, ValueError, r"shape \(2, 0\); every axis"),
    ({"axes": [io.Axis(scale=0.0)]}, ValueError, r"axes\[0\]\.scale is 0\.0; a scale is finite, not zero"),
    ({"axes": [io.Axis(offset=np.nan)]}, ValueError, r"axes\[0\]\.offset is nan"),
    ({"axes": [io.Axis(), io.Axis()]}, ValueError, r"axes has 2 entries; data of shape \(3,\) needs 1"),
    ({"axes": "x"}, TypeError, "axes is a sequence of Axis, one per dimension, not str"),
    ({"axes": [{"scale": 1, "colour": 2}]}, ValueError, r"axes\[0\] has the unknown field 'colour'"),
    ({"name": 7}, TypeError, "name is a str, not int"),
    ({"metadata": [1]}, TypeError, "metadata is a dict of tags, not list"),
    ({"metadata": {"a": {"b:c": 1}}}, ValueError, r"metadata\['a'\] has the key 'b:c'; a tag name is"),
    ({"metadata": {"a": [None]}}, TypeError, r"metadata\['a'\]\[0\] is of type NoneType; a tag is an int"),
    ({"metadata": {"a": 2**60}}, ValueError, r"metadata\['a'\] is 1152921504606846976; a tag number"),
    ({"path": 3}, TypeError, "path is a str or os.PathLike, not int"),
]


@pytest.mark.parametrize("arguments, error, words", BAD_SAVES, ids=[w.split(";")[0] for *_, w in BAD_SAVES])
def test_bad_input_is_a_clear_error_and_writes_nothing(tmp_path, arguments, error, words):
    arguments = {"path": tmp_path / "x.dm4", "data": np.zeros(3, np.float32), **arguments}
    with pytest.raises(error, match="lumadex.io.save: .*" + words):
        io.save(arguments.pop("path"), arguments.pop("data"), **arguments)
    assert os.listdir(tmp_path) == []


def test_looped_tags_missing_and_hostile_files_are_clear_errors(tmp_path):
    looped = {}
    looped["again"] = looped
    with pytest.raises(ValueError, match="nests deeper than 64 levels"):
        io.save(tmp_path / "x.dm4", np.zeros(3), metadata=looped)
    with pytest.raises(lumadex.FileError, match=re.escape(str(tmp_path / "x.dm4")) + ": cannot be opened"):
        io.load(tmp_path / "x.dm4")
    (tmp_path / "bad.dm4").write_bytes(b"PK\3\4" + bytes(40))
    with pytest.raises(lumadex.FileError, match="bad.dm4: .*not a DM3 or DM4 file"):
        io.load(tmp_path / "bad.dm4")
    with pytest.raises(TypeError, match="from_hyperspy: signal is a HyperSpy signal, not ndarray"):
        io.from_hyperspy(np.zeros(3))
