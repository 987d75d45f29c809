"""Every kind of value across a script call, through the host's own small test plug-in.

Its functions do simple, known things with every script type (out-parameters,
strings, images made by the plug-in), so what comes back into Python can be
checked exactly.
"""

import os

import numpy as np
import pytest

import lumadex
from lumadex import Ref


def find_test_plugin():
    path = os.environ.get("LUMADEX_TEST_PLUGIN")
    if not path:  # the build tree's layout, when run outside CTest
        build = os.path.dirname(os.path.dirname(lumadex.default_plugin_path()))
        path = os.path.join(build, "tests", "host", "liblumadex_test_plugin.so")
    return path if os.path.exists(path) else None


@pytest.fixture
def test_host():
    path = find_test_plugin()
    if path is None:
        pytest.skip("the host's test plug-in is not built")
    with lumadex.Host(path) as host:
        before = host.live_objects()["total"]
        yield host
        after = host.live_objects()
        assert after["total"] == before, f"host objects left alive: {after['by_class']}"


def test_numbers_strings_and_out_numbers(test_host):
    count, total = Ref(2), Ref(0.25)
    # long n, float f, bool flag, char letter, dm_string text, long * count, double * total
    assert test_host.TestScalars(4, 1.5, True, 65, "hello", count, total) == 5
    assert count.value == 2 * 10 + 4 + 1 and isinstance(count.value, int)
    assert total.value == 0.25 + 1.5 + 65 and isinstance(total.value, float)
    assert test_host.results() == ["hello"]

    empty = Ref()  # a number out-parameter with no initial value starts from 0
    test_host.TestScalars(4, 1.5, False, 0, "", empty, Ref(0.0))
    assert empty.value == 4


def test_an_image_made_by_the_plugin_comes_back_in_numpy_order(test_host):
    made = Ref()
    assert test_host.TestMakeImage(5, 3, made) is None
    image = made.value
    assert image.name == "made" and image.shape == (3, 5)  # width 5, height 3
    y, x = np.indices((3, 5))
    np.testing.assert_array_equal(image.array(), x + 100 * y)

    # An out-image that held an image: the plug-in replaces it; the old one lives on.
    old = test_host.image(np.ones((2, 2), np.float32))
    replaced = Ref(old)
    test_host.TestMakeImage(2, 2, replaced)
    assert not replaced.value.is_same(old)
    np.testing.assert_array_equal(old.array(), 1)


def test_overloads_are_chosen_by_the_kind_of_image(test_host):
    assert test_host.TestKind(test_host.image(np.ones(3))) == "real image"
    assert test_host.TestKind(test_host.image(np.ones(3, np.complex128))) == "complex image"
    assert test_host.TestComplex(4).data_type is lumadex.DataType.Complex8


def test_the_plugin_sees_x_as_the_last_numpy_axis(test_host):
    image = test_host.image(np.zeros((3, 7), np.float32), "probe")
    image.set_calibration(0, 0.0, 0.1, "nm")
    image.set_calibration(1, 0.0, 0.2, "um")
    assert test_host.TestDescribe(image) == "probe 7x3 nm"
    assert test_host.TestDimension(image, 0) == 7


def test_a_sub_area_filled_by_the_plugin(test_host):
    parent = test_host.image(np.zeros((4, 6), np.float32))
    in_place_lock = 32
    test_host.TestFill(parent.subarea(1, 2, 3, 5), 9.0, in_place_lock)
    expected = np.zeros((4, 6))
    expected[1:3, 2:5] = 9
    np.testing.assert_array_equal(parent.array(), expected)
    assert test_host.TestSum(parent, in_place_lock) == 9 * 6


def test_script_errors_carry_the_exact_text(test_host):
    with pytest.raises(lumadex.ScriptError) as raised:
        test_host.TestRaiseString("An exact sentence, blanks  included.")
    assert str(raised.value) == "An exact sentence, blanks  included."
    with pytest.raises(lumadex.ScriptError, match="^A message from the pair.$"):
        test_host.TestRaisePair(28802)
    with pytest.raises(lumadex.ScriptError, match=r"^An error \(5,7\) has occurred.$"):
        test_host.TestRaisePair(5)
    with pytest.raises(lumadex.ScriptError, match="must be a whole number"):
        test_host.TestScalars(2**40, 1.5, True, 65, "", Ref(0), Ref(0.0))


def test_refs_and_values_in_each_others_places_fit_no_form(test_host):
    count, total = Ref(7), Ref(0.5)
    with pytest.raises(lumadex.ScriptError, match="No form of TestScalars"):
        test_host.TestScalars(4, 1.5, True, 65, "", 7, total)
    with pytest.raises(lumadex.ScriptError, match="No form of TestScalars"):
        test_host.TestScalars(Ref(4), 1.5, True, 65, "", count, total)
    assert (count.value, total.value) == (7, 0.5)
    assert test_host.results() == []
