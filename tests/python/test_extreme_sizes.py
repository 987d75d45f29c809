"""No size, factor or count a script can pass crashes the host.

Every registered script function is called with arguments drawn from pools of small images of every kind and
extreme numbers. Each call either returns or raises a clear error, and
gives back every host reference it took (the host fixture checks that).
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


def image_pool(host):
    rng = np.random.default_rng(5)
    shapes = [(1,), (5,), (1, 1), (1, 4), (3, 1), (4, 6), (5, 3), (2, 3, 4), (1, 2, 2, 2)]
    dtypes = [np.float32, np.float64, np.complex64, np.complex128, np.int16, np.uint32, np.uint8, bool]
    pool = []
    for shape, dtype in itertools.product(shapes, dtypes):
        values = rng.standard_normal(shape) * 3
        pool.append(host.image(values.astype(dtype) if dtype is not bool else values > 0, f"{dtype}{shape}"))
    parent = host.image(rng.standard_normal((6, 8)).astype(np.complex64))
    pool += [parent.subarea(1, 1, 4, 5), parent.subarea(0, 2, 3, 8)]
    return pool


def argument_types(signature):
    inside = re.search(r"\((.*)\)", signature).group(1).strip()
    return [] if not inside else [" ".join(a.split()[:-1]) for a in inside.split(",")]


def draw(kind, images, chooser):
    if kind.endswith("*"):
        base = kind[:-1].strip()
        return Ref(None if base == "ImageRef" else draw(base, images, chooser))
    if kind in ("ImageRef", "ComplexImagePtr"):
        return chooser.choice(images + [None])
    if kind in ("long", "char"):
        return chooser.choice(LONGS)
    if kind in ("float", "double"):
        return chooser.choice(REALS)
    if kind == "bool":
        return chooser.choice([True, False])
    if kind == "dm_string":
        return ""  # an empty command line or name: nothing is run or created
    if kind == "TagGroup":
        return None
    raise AssertionError(f"no values drawn for script type {kind!r}")


def test_every_script_function_survives_extreme_arguments(host, tmp_path, monkeypatch):
    # Folder lookups with the create flag stay inside the test's own folder.
    for variable in ("HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        monkeypatch.setenv(variable, str(tmp_path))
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path / "config"))
    images = image_pool(host)
    chooser = random.Random(1)
    signatures = [s for s in host.signatures() if " ZEP" in s]
    assert signatures
    try:
        for signature in signatures:
            name = re.search(r" (ZEP\w+)\(", signature).group(1)
            kinds = argument_types(signature)
            for _ in range(12):
                arguments = [draw(kind, images, chooser) for kind in kinds]
                try:
                    host.call(name, *arguments)
                except (lumadex.ScriptError, lumadex.UsageError, TypeError, OverflowError):
                    pass
    finally:
        if "ZEPSetNumThreads" in host.function_names():
            host.ZEPSetNumThreads(os.cpu_count() or 1)
        if "ZEPSetUseSIMD" in host.function_names():
            host.ZEPSetUseSIMD(1)
    del images
