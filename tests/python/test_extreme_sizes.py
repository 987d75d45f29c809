"""No size, factor, count, image or string a script can pass crashes the host.

Every registered script function is called with arguments drawn from pools
of small images of every data type (one to five dimensions, sub-areas and
their parent), extreme numbers and strings; then with each pair of its image
arguments, and all of them, given one image (source and destination alike,
out-parameters included). Each call either returns or raises a clear script
error; a failed call leaves every image it was given as it was; and every
call gives back every host reference it took.
"""

import itertools
import os
import random
import re

import numpy as np

import lumadex
from lumadex import Ref

# Arguments by script type. Numbers reach past every range a size, factor,
# period or count could be checked against.
LONGS = [0, 1, -1, 2, 3, 2**31 - 1, -(2**31), 7]
REALS = [0.0, -1.0, 0.5, 1.0, 2.5, 1e300, -1e300, float("nan"), float("inf"), 2.0**31]
# Command lines that start nothing harmful whether or not a shell reads them;
# the empty one starts nothing at all.
STRINGS = ["", "/bin/true", ": " + "x" * 5000 + " \u00e9\U0001f642"]
IMAGE_KINDS = ("ImageRef", "ComplexImagePtr")
DTYPES = [np.float32, np.float64, np.complex64, np.complex128, np.int8, np.uint8, np.int16, np.uint16, np.int32,
          np.uint32, bool, "RGB"]
SHAPES = [(1,), (5,), (1, 1), (1, 4), (3, 1), (4, 4), (4, 6), (5, 3), (2, 3, 4), (1, 2, 2, 2), (2, 1, 3, 4), (2, 1, 2, 3, 2)]
RANDOM_DRAWS = 16


def image_pool(host):
    rng = np.random.default_rng(5)
    pool = []
    for shape, dtype in itertools.product(SHAPES, DTYPES):
        values = rng.standard_normal(shape) * 3
        if dtype == "RGB":
            image = host.new_image(f"RGB{shape}", "RGB", *shape)
            image.write(rng.integers(0, 2**24, shape, dtype=np.uint32))
        else:
            image = host.image(values.astype(dtype) if dtype is not bool else values > 0, f"{dtype}{shape}")
        pool.append(image)
    parent = host.image(rng.standard_normal((6, 8)).astype(np.complex64))
    pool += [parent, parent.subarea(1, 1, 4, 5), parent.subarea(0, 2, 3, 8)]
    for image in pool:
        image.tags()  # an image makes its tag group on first use: before the calls' references are counted
    return pool


def argument_types(signature):
    inside = re.search(r"\((.*)\)", signature).group(1).strip()
    return [] if not inside else [" ".join(a.split()[:-1]) for a in inside.split(",")]


def draw(kind, images, chooser, shared=None):
    """One argument of script type `kind`; `shared` is the image every aliased image argument gets."""
    if kind.endswith("*"):
        base = kind[:-1].strip()
        if base == "ImageRef":  # empty, or holding an image (of any type) on the way in
            return Ref(shared if shared is not None else chooser.choice(images + [None] * 8))
        return Ref(draw(base, images, chooser))
    if kind in IMAGE_KINDS:
        return shared if shared is not None else chooser.choice(images + [None] * 8)
    if kind in ("long", "char"):
        return chooser.choice(LONGS)
    if kind in ("float", "double"):
        return chooser.choice(REALS)
    if kind == "bool":
        return chooser.choice([True, False])
    if kind == "dm_string":
        return chooser.choice(STRINGS)
    if kind == "TagGroup":
        return None
    raise AssertionError(f"no values drawn for script type {kind!r}")


def argument_lists(kinds, images, chooser):
    """Random draws; then every pair of image arguments, and all of them, aliased to one image of each type."""
    slots = [i for i, kind in enumerate(kinds) if kind.rstrip(" *") in IMAGE_KINDS]
    groups = list(itertools.combinations(slots, 2)) + ([tuple(slots)] if len(slots) > 2 else [])
    aliased = [image for image in images if image.shape in ((4, 4), (4, 6), (2, 3, 4)) or image.is_subarea]
    for _ in range(RANDOM_DRAWS):
        yield [draw(kind, images, chooser) for kind in kinds]
    for group, shared in itertools.product(groups, aliased):
        yield [draw(kind, images, chooser, shared if i in group else None) for i, kind in enumerate(kinds)]


def given_images(arguments):
    values = [a.value if isinstance(a, Ref) else a for a in arguments]
    return [v for v in values if isinstance(v, lumadex.Image)]


def test_every_script_function_survives_extreme_arguments(host, tmp_path, monkeypatch):
    # Folder lookups with the create flag stay inside the test's own folder.
    for variable in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        monkeypatch.setenv(variable, str(tmp_path))
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path / "config"))
    monkeypatch.chdir(tmp_path)
    images = image_pool(host)
    chooser = random.Random(1)
    signatures = [s for s in host.signatures() if " ZEP" in s]
    assert signatures
    try:
        for signature in signatures:
            name = re.search(r" (ZEP\w+)\(", signature).group(1)
            for arguments in argument_lists(argument_types(signature), images, chooser):
                call = f"{name}{tuple(arguments)}"
                before = [(image, image.array()) for image in given_images(arguments)]
                live = host.live_objects()["total"]
                try:
                    result = host.call(name, *arguments)
                except lumadex.ScriptError as error:
                    message = str(error)
                    assert message and "unspecified" not in message and "An error (" not in message, \
                        f"{call}: unclear message {message!r}"
                    for image, pixels in before:
                        np.testing.assert_array_equal(image.array(), pixels, err_msg=f"{call} failed with {message!r}")
                except (lumadex.UsageError, TypeError, OverflowError):
                    pass  # refused before the call
                else:
                    del result
                del arguments, before
                assert host.live_objects()["total"] == live, f"{call} kept host references"
    finally:
        if "ZEPSetNumThreads" in host.function_names():
            host.ZEPSetNumThreads(os.cpu_count() or 1)
        if "ZEPSetUseSIMD" in host.function_names():
            host.ZEPSetUseSIMD(1)
    del images
