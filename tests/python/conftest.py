"""Shared fixtures: a fresh host per test, checked for leaked host objects."""

import gc
import zlib

import numpy as np
import pytest

import lumadex


@pytest.fixture
def host():
    """A host with the plug-in loaded; the test fails if it leaves host objects alive."""
    with lumadex.Host() as fresh:
        before = fresh.live_objects()["total"]
        yield fresh
        gc.collect()
        after = fresh.live_objects()
        assert after["total"] == before, f"host objects left alive: {after['by_class']}"


@pytest.fixture
def rng(request):
    # A fixed seed per test, so that a failure reproduces.
    return np.random.default_rng(zlib.crc32(request.node.nodeid.encode()))
