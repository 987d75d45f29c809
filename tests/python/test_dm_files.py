"""DM3 / DM4 files: the corpus recorded by microscopes (HyperSpy's test files) read as HyperSpy reads them,
every data type saved and read back by the host and by HyperSpy, and bad files refused with clear errors."""

import glob
import logging
import os
import re
import resource
import signal
import stat
import struct
import subprocess
import sys

import numpy as np
import pytest

import lumadex

logging.getLogger("hyperspy").setLevel(logging.ERROR)
dm = pytest.importorskip("hyperspy.io_plugins.digital_micrograph")
CORPUS = sorted(glob.glob(os.path.join(os.path.dirname(dm.__file__), "..", "tests", "io", "**", "*.dm[34]"),
                          recursive=True))
needs_corpus = pytest.mark.skipif(not CORPUS, reason="HyperSpy's DM test files are not installed")
LIST_KEY = re.compile(r"(TagGroup|Data)\d+$")


def plain(value):
    """A HyperSpy or lumadex tag value in one form: unnamed entries as lists, empty values as None."""
    if isinstance(value, dict):
        if value and all(LIST_KEY.match(k) for k in value):
            value = list(value.values())
        else:
            return {k: plain(v) for k, v in value.items()} or None
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value] or None
    return value if value != "" else None


def assert_tags_equal(ours, theirs, path=""):
    if isinstance(theirs, dict):
        assert isinstance(ours, dict) and list(ours) == list(theirs), path
        for key in theirs:
            assert_tags_equal(ours[key], theirs[key], f"{path}:{key}")
    elif isinstance(theirs, list):
        assert isinstance(ours, list) and len(ours) == len(theirs), path
        for i, (a, b) in enumerate(zip(ours, theirs)):
            assert_tags_equal(a, b, f"{path}[{i}]")
    elif isinstance(theirs, (int, float)) and not isinstance(ours, str):
        assert ours == pytest.approx(theirs, rel=1e-15), path
    else:
        assert ours == theirs, path


def reference(path):
    """HyperSpy's reading: (pixels with RGBA as 4 bytes, axes, title, ImageTags) per image."""
    out = []
    for signal in dm.file_reader(path):
        data = signal["data"]
        if data.dtype.names:  # RGBA records; the host keeps the file's B, G, R, A bytes in one element
            data = np.ascontiguousarray(data[["B", "G", "R", "A"]]).view(np.uint32).reshape(data.shape)
        tags = signal["original_metadata"]["ImageList"]["TagGroup0"].get("ImageTags", {})
        out.append((data, signal["axes"], signal["metadata"]["General"]["title"], tags))
    return out


def assert_as_hyperspy_reads(images, path):
    expected = reference(path)
    assert len(images) == len(expected)
    for image, (data, axes, title, tags) in zip(images, expected):
        pixels = image.array()
        assert pixels.shape == data.shape and pixels.dtype == data.dtype.newbyteorder("=")
        np.testing.assert_array_equal(pixels, data)
        assert image.name == title
        for axis, host_dim in zip(axes, reversed(range(image.ndim))):
            origin, scale, units = image.calibration(host_dim)
            assert (scale, -origin * scale, units) == pytest.approx((axis["scale"], axis["offset"], axis["units"]))
        assert_tags_equal(plain(image.tags()), plain(tags))


@needs_corpus
@pytest.mark.parametrize("path", CORPUS, ids=lambda p: os.path.relpath(p, os.path.dirname(os.path.dirname(p))))
def test_corpus_file_reads_as_hyperspy_reads_it_and_saves_unchanged(host, tmp_path, path):
    images = host.open(path)
    assert_as_hyperspy_reads(images, path)
    # Saved again (one image per file), the host and HyperSpy read back the same image and tags.
    for k, image in enumerate(images):
        copy = tmp_path / f"copy{k}{os.path.splitext(path)[1]}"
        image.save(copy)
        (back,) = host.open(copy)
        np.testing.assert_array_equal(back.array(), image.array())
        assert (back.name, back.tags()) == (image.name, image.tags())
        assert [back.calibration(d) for d in range(back.ndim)] == [image.calibration(d) for d in range(image.ndim)]
        (data, _, title, tags), = reference(copy)
        assert_tags_equal(plain(image.tags()), plain(tags))


DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32, np.float64,
          np.complex64, np.complex128, np.bool_]


@pytest.mark.parametrize("suffix", [".dm4", ".dm3"])
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: np.dtype(d).name)
def test_every_data_type_saved_reads_back_unchanged_by_host_and_hyperspy(host, rng, tmp_path, dtype, suffix):
    shape = (2, 3, 4, 5)[: 1 + DTYPES.index(dtype) % 4]
    pixels = (rng.standard_normal(shape + (2,)) * 1000).view(np.complex128)[..., 0].astype(dtype) \
        if np.dtype(dtype).kind == "c" else (rng.random(shape) * 300 - 100).astype(dtype)
    image = host.image(pixels, "saved ü")
    for dim in range(image.ndim):
        image.set_calibration(dim, 0.5 * dim, 0.25 + dim, ["nm", "1/µm", "eV", ""][dim])
    image.set_tag("Microscope:Voltage", 300000.0)
    image.set_tag("Microscope:Name", "TEM ø")
    image.set_tag("Count", -7)
    path = tmp_path / f"image{suffix}"
    image.save(path)
    (back,) = host.open(path)
    assert back.dtype == pixels.dtype and back.name == "saved ü"
    np.testing.assert_array_equal(back.array(), pixels)
    assert back.tags() == image.tags() == {"Microscope": {"Voltage": 300000.0, "Name": "TEM ø"}, "Count": -7}
    assert_as_hyperspy_reads([back], str(path))


def dm4(*root_tags, order=1):
    """A DM4 file holding `root_tags` (bytes of whole tags) in its root group."""
    body = b"\0\1" + struct.pack(">Q", len(root_tags)) + b"".join(root_tags)
    return struct.pack(">IQI", 4, len(body) + 8, order) + body + bytes(8)


def group(label, *tags):
    inner = b"\0\1" + struct.pack(">Q", len(tags)) + b"".join(tags)
    return struct.pack(">BH", 20, len(label)) + label + struct.pack(">Q", len(inner)) + inner


def data(label, info, value=b""):
    inner = b"%%%%" + struct.pack(f">{len(info) + 1}Q", len(info), *info) + value
    return struct.pack(">BH", 21, len(label)) + label + struct.pack(">Q", len(inner)) + inner


def image_list(dims=(2, 2), pixels=bytes(16), data_info=(20, 6, 4), endian="<", extra=()):
    return group(b"ImageList", group(b"", group(
        b"ImageData", data(b"Data", data_info, pixels), data(b"DataType", [3], struct.pack(endian + "i", 2)),
        group(b"Dimensions", *[data(b"", [5], struct.pack(endian + "I", n)) for n in dims])), *extra))


def nested(depth):
    return group(b"g", nested(depth - 1)) if depth else group(b"g")


BAD_FILES = {
    "wrong magic": (b"PK\3\4" + bytes(40), "not a DM3 or DM4 file"),
    "too short": (b"\0\0\0\4", "too short"),
    "tag count beyond the file": (struct.pack(">IQI", 4, 0, 1) + b"\0\1" + struct.pack(">Q", 2**62), "claims"),
    "array claiming terabytes": (dm4(data(b"Huge", [20, 7, 2**40])), "larger than the rest of the file"),
    "overflowing array of arrays": (dm4(data(b"Huge", [20, 20, 7, 2**33, 2**33])), "larger than the rest"),
    "tags nested without end": (dm4(nested(200)), "nested deeper"),
    "unknown tag kind": (dm4(b"\x07\0\1x"), "unknown kind 7"),
    "no image list": (dm4(data(b"Other", [3], bytes(4))), "no ImageList"),
    "data shorter than its dimensions": (dm4(image_list(dims=(2, 3))), "need 24"),
    "dimension of zero": (dm4(image_list(dims=(0, 2))), "not a size"),
    "packed complex": (dm4(image_list().replace(struct.pack("<i", 2), struct.pack("<i", 27))), "packed complex"),
    "truncated pixels": (dm4(image_list())[:-20], "truncated"),
    "big-endian file cut short": (dm4(image_list(), order=0)[:70], "truncated"),
    "empty image list": (dm4(group(b"ImageList")), "empty ImageList"),
    "thumbnails only": (dm4(image_list(), group(b"Thumbnails", group(b"", data(b"ImageIndex", [3], bytes(4))))),
                        "only thumbnails"),
}


@pytest.mark.parametrize("content, words", BAD_FILES.values(), ids=BAD_FILES.keys())
def test_bad_file_is_a_clear_error_naming_the_file(host, tmp_path, content, words):
    path = tmp_path / "bad.dm4"
    path.write_bytes(content)
    with pytest.raises(lumadex.FileError, match=re.escape(str(path)) + ".*" + words):
        host.open(path)


def test_missing_file_and_unwritable_folder_are_clear_errors(host, tmp_path):
    with pytest.raises(lumadex.FileError, match="nowhere.dm4: cannot be opened"):
        host.open(tmp_path / "nowhere.dm4")
    with pytest.raises(lumadex.FileError, match="is not a regular file"):
        host.open(tmp_path)
    with pytest.raises(lumadex.FileError, match="cannot be written"):
        host.image(np.zeros(3, np.float32)).save(tmp_path / "no" / "such.dm4")
    with pytest.raises(lumadex.FileError, match="DM files hold 1 to 4 dimensions"):
        host.image(np.zeros((1, 2, 1, 2, 1), np.float32)).save(tmp_path / "five.dm4")
    assert os.listdir(tmp_path) == []


def test_big_endian_file_and_saved_subarea_read_back(host, tmp_path):
    (tmp_path / "a.dm4").write_bytes(dm4(image_list(pixels=np.arange(4, dtype=">f4").tobytes(), endian=">"), order=0))
    (image,) = host.open(tmp_path / "a.dm4")
    np.testing.assert_array_equal(image.array(), [[0, 1], [2, 3]])
    whole = host.image(np.arange(20, dtype=np.int16).reshape(4, 5))
    whole.box((1, 1), (3, 4)).save(tmp_path / "b.dm3")
    np.testing.assert_array_equal(host.open(tmp_path / "b.dm3")[0].array(), whole.array()[1:3, 1:4])


def test_pixels_past_the_host_limit_in_a_sparse_file_are_a_file_error(host, tmp_path):
    count = 2**39  # float32: 2^41 bytes, in a file of a few KiB on disk
    content = dm4(image_list(dims=(2**20, 2**19), pixels=b"", data_info=(20, 6, count)))
    head = struct.pack(">4Q", 3, 20, 6, count)
    cut = content.index(head) + len(head)
    path = tmp_path / "sparse.dm4"
    with open(path, "wb") as f:
        f.write(content[:cut])
        f.seek(4 * count, os.SEEK_CUR)
        f.write(content[cut:])
    with pytest.raises(lumadex.FileError, match=re.escape(str(path)) + ".*limit of 2\\^40 bytes"):
        host.open(path)


def test_text_that_is_not_utf8_reads_as_latin1_prints_escaped_and_saves_clean(host, tmp_path):
    # Overlong "/", an encoded surrogate, a code point past U+10FFFF, a cut sequence, and terminal escapes.
    for raw in [b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"a\xe2\x82", b"\x1b]0;x\x07\x1b[2J\xc2\x9b"]:
        text = raw.decode("utf-8") if raw.startswith(b"\x1b") else raw.decode("latin-1")
        path = tmp_path / "text.dm4"
        path.write_bytes(dm4(image_list(extra=[data(b"Name", [18, len(raw)], raw),
                                               group(b"ImageTags", data(raw, [18, len(raw)], raw))])))
        (image,) = host.open(path)
        assert (image.name, image.tags()) == (text, {text: text}) and repr(image)
        image.save(tmp_path / "copy.dm4")
        (back,) = host.open(tmp_path / "copy.dm4")
        assert (back.name, back.tags()) == (text, {text: text})
        tool = os.path.join(os.path.dirname(lumadex.__file__), "..", "..", "host", "lumadex-dm")
        if os.path.exists(tool):
            shown = subprocess.run([tool, "--tags", path], capture_output=True, check=True).stdout
            assert not re.search(rb"[\x00-\x1f\x7f]|\xc2[\x80-\x9f]", shown.replace(b"\n", b""))


def test_tags_nest_to_the_limit_and_no_deeper_on_save(host, tmp_path):
    image = host.image(np.zeros(2, np.float32))
    image.set_tag(":".join(["g"] * 64) + ":x", 1)  # the deepest group at level 64
    image.save(tmp_path / "deep.dm4")
    assert host.open(tmp_path / "deep.dm4")[0].tags() == image.tags()
    try:
        image.set_tag(":".join(["g"] * 1000) + ":x", 1)
    except lumadex.UsageError:
        return  # the host refuses such a tree before a save could see it
    with pytest.raises(lumadex.FileError, match="deep.dm4: .*nest deeper than 64 levels"):
        image.save(tmp_path / "deep.dm4")
    assert host.open(tmp_path / "deep.dm4")[0].tags()["g"]["g"]


def test_save_replaces_only_regular_files_through_links_keeping_their_mode(host, tmp_path):
    image = host.image(np.arange(6, dtype=np.float32).reshape(2, 3), "new")
    os.mkfifo(tmp_path / "fifo")
    (tmp_path / "folder.dm4").mkdir()
    os.symlink("/dev/null", tmp_path / "null.dm4")
    for name in ["fifo", "folder.dm4", "null.dm4"]:
        with pytest.raises(lumadex.FileError, match=name + ": is a .*not a regular file"):
            image.save(tmp_path / name)
    assert stat.S_ISFIFO(os.stat(tmp_path / "fifo").st_mode) and stat.S_ISCHR(os.stat("/dev/null").st_mode)
    # A chain of links is followed; the file it names is replaced and keeps its mode.
    real = tmp_path / "real.dm4"
    real.write_bytes(b"old")
    real.chmod(0o600)
    os.symlink("real.dm4", tmp_path / "one.dm4")
    os.symlink(tmp_path / "one.dm4", tmp_path / "two.dm4")
    image.save(tmp_path / "two.dm4")
    assert os.path.islink(tmp_path / "two.dm4") and os.path.islink(tmp_path / "one.dm4")
    assert stat.S_IMODE(real.stat().st_mode) == 0o600 and host.open(real)[0].name == "new"
    # Read-only (checked on the mode bits, so also for root): refused unless asked for.
    locked = tmp_path / "locked.dm4"
    locked.write_bytes(b"old")
    locked.chmod(0o444)
    with pytest.raises(lumadex.FileError, match="locked.dm4: is read-only"):
        image.save(locked)
    assert locked.read_bytes() == b"old"
    image.save(locked, overwrite_read_only=True)
    assert stat.S_IMODE(locked.stat().st_mode) == 0o444 and host.open(locked)[0].name == "new"
    # A new file gets 0666 less the umask; a name of 247 bytes leaves room for the temporary.
    long_name, umask = tmp_path / ("n" * 243 + ".dm4"), os.umask(0o027)
    try:
        image.save(long_name)
    finally:
        os.umask(umask)
    assert stat.S_IMODE(long_name.stat().st_mode) == 0o640
    # A write that fails midway (the file-size limit) leaves the old file whole and no temporary.
    handler, limits = signal.signal(signal.SIGXFSZ, signal.SIG_IGN), resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (64, limits[1]))
    try:
        with pytest.raises(lumadex.FileError, match="real.dm4: cannot be written"):
            host.image(np.zeros(100, np.float32), "big").save(real)
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, limits)
        signal.signal(signal.SIGXFSZ, handler)
    assert host.open(real)[0].name == "new"
    assert not [n for n in os.listdir(tmp_path) if n.startswith(".")]


# A process of its own: its peak memory (VmHWM: ru_maxrss would start from the parent's) or a crash is its alone.
CHILD = """
import re, sys, time, lumadex
peak = lambda: int(re.search(r"VmHWM:\\s*(\\d+) kB", open("/proc/self/status").read())[1]) * 1024
with lumadex.Host() as host:
    if sys.argv[1] == "memory":
        before = peak()
        try:
            host.open(sys.argv[2])
        except lumadex.FileError:
            pass
        print(peak() - before)
    else:
        end = time.monotonic() + 3
        while time.monotonic() < end:
            try:
                host.open(sys.argv[2])
            except lumadex.FileError:
                pass
"""


def child(*args):
    return subprocess.Popen([sys.executable, "-c", CHILD, *map(str, args)], stdout=subprocess.PIPE)


def test_memory_while_reading_tags_stays_within_a_small_multiple_of_the_file(tmp_path):
    empty = group(b"")
    for name, content in [("root", dm4(*[empty] * 650_000)), ("list", dm4(group(b"ImageList", *[empty] * 650_000)))]:
        path = tmp_path / f"{name}.dm4"  # 13 MiB of empty groups
        path.write_bytes(content)
        growth = int(child("memory", path).communicate()[0])
        assert growth < 4 * len(content), (name, growth)


def test_file_truncated_while_it_is_read_is_a_file_error_not_a_crash(tmp_path):
    path = tmp_path / "shrinking.dm4"
    content = dm4(group(b"Other", *[data(b"x", [3], bytes(4))] * 100_000), image_list())
    path.write_bytes(content)
    reader = child("loop", path)
    with open(path, "r+b") as f:
        while reader.poll() is None:
            f.truncate(len(content) // 3)
            f.seek(0)
            f.write(content)
    assert reader.returncode == 0  # no SIGBUS
