"""Host images from and to numpy: data types, axis order, calibrations, tags, sub-areas, pixel views."""

import numpy as np
import pytest

import lumadex
from lumadex import DataType

ARRAY_DTYPES = {
    np.int8: DataType.Int8,
    np.uint8: DataType.UInt8,
    np.int16: DataType.Int16,
    np.uint16: DataType.UInt16,
    np.int32: DataType.Int32,
    np.uint32: DataType.UInt32,
    np.float32: DataType.Real4,
    np.float64: DataType.Real8,
    np.complex64: DataType.Complex8,
    np.complex128: DataType.Complex16,
    np.bool_: DataType.Binary,
}


def random_pixels(rng, shape, dtype):
    dtype = np.dtype(dtype)
    if dtype == np.bool_:
        return rng.random(shape) < 0.5
    if dtype.kind in "iu":
        info = np.iinfo(dtype)
        return rng.integers(info.min, info.max, size=shape, dtype=dtype, endpoint=True)
    if dtype.kind == "c":
        return (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)
    return rng.standard_normal(shape).astype(dtype)


@pytest.mark.parametrize("dtype", list(ARRAY_DTYPES), ids=lambda d: np.dtype(d).name)
def test_every_dtype_round_trips_with_its_data_type(host, rng, dtype):
    pixels = random_pixels(rng, (3, 5), dtype)
    image = host.image(pixels, "round trip")
    assert image.data_type is ARRAY_DTYPES[dtype]
    assert image.name == "round trip"
    copy = image.array()
    assert copy.dtype == pixels.dtype
    np.testing.assert_array_equal(copy, pixels)


@pytest.mark.parametrize("shape", [(7,), (4, 6), (2, 3, 5), (2, 1, 3, 4), (2, 2, 1, 3, 2)])
def test_shapes_of_one_to_five_dimensions_keep_numpy_order(host, rng, shape):
    pixels = random_pixels(rng, shape, np.float32)
    image = host.image(pixels)
    assert image.shape == shape and image.ndim == len(shape) and image.size == pixels.size
    np.testing.assert_array_equal(image.array(), pixels)
    blank = host.new_image("blank", "Real4", *shape)
    assert blank.shape == shape and not blank.array().any()


def test_non_contiguous_and_byte_swapped_arrays_are_copied_in_c_order(host, rng):
    pixels = random_pixels(rng, (6, 8), np.float64)
    np.testing.assert_array_equal(host.image(pixels.T).array(), pixels.T)
    np.testing.assert_array_equal(host.image(pixels[::2, 1::3]).array(), pixels[::2, 1::3])
    swapped = pixels.astype(">f8")
    image = host.image(swapped)
    assert image.data_type is DataType.Real8
    np.testing.assert_array_equal(image.array(), pixels)


def test_new_image_takes_the_data_type_as_member_code_or_name(host):
    for data_type in (DataType.Complex16, 13, "Complex16", "Complex 16"):
        assert host.new_image("z", data_type, 2, 3).data_type is DataType.Complex16
    assert host.new_image("rgb", DataType.RGB, 2, 2).array().dtype == np.uint32


def test_the_last_numpy_axis_is_the_host_x_axis(host, rng):
    pixels = random_pixels(rng, (4, 9), np.int16)
    image = host.image(pixels)
    # Host dimension 0 (x) has its own calibration; it is the axis of length 9.
    image.set_calibration(0, 1.5, 0.25, "nm")
    image.set_calibration(1, -2.0, 4.0, "um")
    assert image.calibration(0) == (1.5, 0.25, "nm")
    assert image.calibration(1) == lumadex.Calibration(-2.0, 4.0, "um")
    # A sub-area given as (top, left, bottom, right) is numpy's [top:bottom, left:right].
    np.testing.assert_array_equal(image.subarea(1, 2, 3, 8).array(), pixels[1:3, 2:8])


def test_pixel_view_is_a_writable_zero_copy_view_with_the_parents_strides(host, rng):
    pixels = random_pixels(rng, (6, 10), np.float32)
    parent = host.image(pixels)
    area = parent.subarea(2, 3, 5, 9)
    with area.pixels() as view:
        assert view.shape == (3, 6)
        assert view.strides == (10 * 4, 4)  # the parent's row pitch
        np.testing.assert_array_equal(view, pixels[2:5, 3:9])
        view *= -1
    expected = pixels.copy()
    expected[2:5, 3:9] *= -1
    np.testing.assert_array_equal(parent.array(), expected)
    del view


def test_bad_arrays_and_requests_raise_clear_errors(host):
    with pytest.raises(TypeError, match="float16"):
        host.image(np.zeros(4, np.float16))
    with pytest.raises(TypeError, match="object"):
        host.image(np.array([1, "a"], dtype=object))
    with pytest.raises(ValueError, match="1 to 5 dimensions"):
        host.image(np.zeros((1, 2, 1, 2, 1, 2), np.float32))
    with pytest.raises(ValueError, match="1 to 5 dimensions"):
        host.image(np.float32(1.0))
    with pytest.raises(ValueError, match="1 to 5 dimensions"):
        host.new_image("none", DataType.Real4)
    with pytest.raises(ValueError, match="axis 0"):
        host.image(np.zeros((0, 3), np.float32))
    with pytest.raises(ValueError, match="code 5"):
        host.new_image("bad", 5, 2)
    with pytest.raises(ValueError, match="named"):
        host.new_image("bad", "Real 16", 2)

    image = host.new_image("small", DataType.Real4, 3, 4)
    with pytest.raises(IndexError):
        image.calibration(2)
    with pytest.raises(ValueError, match="2-D"):
        host.new_image("line", DataType.Real4, 8).subarea(0, 0, 1, 4)
    with pytest.raises(ValueError):
        image.subarea(0, 0, 4, 4)  # past the bottom edge
    with pytest.raises(ValueError, match="shape"):
        image.write(np.zeros((4, 3)))
    with pytest.raises(TypeError, match="complex"):
        image.write(np.zeros((3, 4), np.complex64))
    np.testing.assert_array_equal(image.array(), 0)


def test_a_view_kept_past_its_block_never_reaches_freed_or_other_pixels(host):
    baseline = host.live_objects()["total"]
    target = host.image(np.arange(8, dtype=np.int32).reshape(2, 4))
    with target.pixels() as view:
        row = view[1]
    lock = target._core.lock()
    kept = lock.array()
    lock.release()
    with pytest.raises(ValueError, match="ended"):
        lock.array()
    # The call converts its Int32 destination to Real 4: the image gets a new pixel buffer.
    host.ZEPSinCos(host.image(np.zeros((2, 4), np.int32)), lumadex.Ref(target), lumadex.Ref())
    assert target.data_type is DataType.Real4
    other = host.image(np.zeros((2, 4), np.float32))
    with pytest.raises(ValueError, match="read-only"):
        view[0, 0] = 7
    row[:] = 7  # an array made from the view writes into the old buffer, kept alive for it alone
    kept[0, 0] = 9
    np.testing.assert_array_equal(view, [[9, 1, 2, 3], [7, 7, 7, 7]])
    np.testing.assert_array_equal(target.array(), 0)
    np.testing.assert_array_equal(other.array(), 0)
    # The views gave their image back when the lock ended, and outlive it.
    del target, other
    assert host.live_objects()["total"] == baseline
    assert row.sum() == 28 and kept[0, 0] == 9


def test_no_tag_tree_grows_deeper_than_the_limit(host):
    depth = lumadex.MAX_TAG_DEPTH
    image = host.new_image("tags", DataType.Real4, 2)
    image.set_tag(":".join(["g"] * (depth + 1)), 1)  # groups at levels 1 .. depth, then a value
    deepest = 1
    for _ in range(depth):
        deepest = {"g": deepest}
    image.set_tag("d", deepest)  # groups at levels 1 .. depth
    tags = image.tags()
    looped = {}
    looped["again"] = looped
    refused = [(":".join(["h"] * (depth + 2)), 1), (":".join(["h"] * 100_000), 1),
               ("d", {"g": deepest}), ("e", looped)]
    for path, value in refused:
        with pytest.raises(lumadex.UsageError, match=f"deeper than {depth} levels"):
            image.set_tag(path, value)
    assert image.tags() == tags and image.clone().tags() == tags
    with pytest.raises(ValueError, match="':'"):
        image.set_tag("f", {"a": 1, "b:c": 2})
    with pytest.raises(TypeError, match="not set"):
        image.set_tag("f", {"a": [1, {2}]})
    assert image.tags() == tags
    listed = []
    listed.append(listed)
    with pytest.raises(lumadex.UsageError, match=f"deeper than {depth} levels"):
        image.set_tag("f", listed)
    image.set_tag("f", {"a": [1, 2.5, "three", {"four": [4]}, []]})  # lists are lists of unnamed entries
    assert image.tags()["f"] == {"a": [1, 2.5, "three", {"four": [4]}, {}]}  # an empty one reads as a group


def test_host_text_that_is_not_utf8_reaches_python_with_replacement_characters(host):
    # A file may hold such bytes; the native layer takes bytes for text, which stands in for one here.
    image = host.new_image("x", DataType.Real4, 2)
    image._core.name = b"bad \xff name"
    image._core.set_calibration(0, 0.0, 1.0, b"\xfe m")
    image._core.set_tag(b"lab\xffel:inner", 1)
    assert image.name == "bad \ufffd name" and image.calibration(0).units == "\ufffd m"
    assert image.tags() == {"lab\ufffdel": {"inner": 1}}
    with pytest.raises(lumadex.UsageError, match='"\ufffd::x"'):
        image._core.set_tag(b"\xff::x", 1)
    target = host.image(np.zeros(4, np.int32))
    target._core.name = b"\xff"
    with target.pixels():  # locked: the call cannot convert it, and quotes its name
        with pytest.raises(lumadex.ScriptError, match='"\ufffd" while its pixels are locked'):
            host.ZEPSinCos(host.image(np.zeros(4, np.int32)), lumadex.Ref(target), lumadex.Ref())
