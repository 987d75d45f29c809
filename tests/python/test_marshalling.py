"""Values across a script call as Python sees them, through the host's own small test plug-in.

Its functions do simple, known things with every script type, so what comes
back into Python (Ref values, numpy order, exact error texts) can be checked
exactly. The host's side of the same calls is tested in C++ under ASan.
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


def test_script_errors_carry_the_exact_text(test_host):
    with pytest.raises(lumadex.ScriptError) as raised:
        test_host.TestRaiseString("An exact sentence, blanks  included.")
    assert str(raised.value) == "An exact sentence, blanks  included."
    with pytest.raises(lumadex.ScriptError, match="must be a whole number"):
        test_host.TestScalars(2**40, 1.5, True, 65, "", Ref(0), Ref(0.0))
