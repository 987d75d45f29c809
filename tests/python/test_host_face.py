"""The host face: keyword arguments by the registered parameter names, docstrings and signatures of every
script function, and Hosts that share one loaded plug-in."""

import gc
import inspect
import pydoc
import re

import numpy as np
import pytest

import lumadex


def test_keywords_bind_by_the_registered_names_as_python_binds_them(host, rng):
    pixels = (rng.standard_normal((4, 6)) + 1j * rng.standard_normal((4, 6))).astype(np.complex128)
    image = host.image(pixels)
    expected = 2.0 * np.fft.ifft2(pixels) * pixels.size  # PureFFT's exponent is positive
    for call in (lambda f: f(image, 2.0, None), lambda f: f(image, fScale=2.0, cimDst=None),
                 lambda f: f(cimDst=None, cimSrc=image, fScale=2.0)):
        np.testing.assert_allclose(call(host.ZEPPureFFT).array(), expected, atol=1e-9)
    np.testing.assert_allclose(host.call("ZEPPureFFT", image, cimDst=None, fScale=2.0).array(), expected, atol=1e-9)
    # A long mix of positional and keyword arguments gives what the positional call gives.
    arguments = [4, 6, 1, 0.25, -0.5, 0.0, 1.0]
    positional = host.ZEPPureImageShifter(image, *arguments[:3], *arguments[3:6], arguments[6], None)
    mixed = host.ZEPPureImageShifter(image, 4, 6, nOrigD=1, fShiftZ=0.0, fShiftY=-0.5, fShiftX=0.25, fSign=1.0,
                                     cimDst=None)
    np.testing.assert_array_equal(mixed.array(), positional.array())
    # A char parameter takes one letter as well as its code.
    a = host.image(np.diag([4.0, 5.0, 6.0]))
    b = host.image(np.ones((2, 3)))
    by_code = host.ZEPBandedCholDecompositionF(a, b, ord("U"), 0)
    np.testing.assert_array_equal(host.ZEPBandedCholDecompositionF(imgA=a, imgB=b, uplo="U", kd=0).array(),
                                  by_code.array())


def test_overloads_resolve_by_the_names_given_then_by_the_argument_kinds(host, rng):
    a = host.image(np.array([[2.0, 1.0], [1.0, 3.0]]))
    b = host.image(np.array([[1.0, 2.0]]))
    solved = host.ZEPLUDecompositionF(imgA=a, imgB=b)  # the form that makes its destination
    np.testing.assert_allclose(solved.array() @ a.array(), b.array())
    destination = host.image(np.zeros((1, 2)))
    assert host.ZEPLUDecompositionF(a, b, imgDst=destination) == 0  # the form that reports a status
    np.testing.assert_array_equal(destination.array(), solved.array())
    source = host.image(rng.random((3, 4)).astype(np.float32))
    plain = host.ZEPLinearWarpX(source, fCoef=2.0, imgDst=None)
    offset = host.ZEPLinearWarpX(source, 2.0, fOffset=0.0, imgDst=None)
    np.testing.assert_array_equal(offset.array(), plain.array())
    z = (rng.standard_normal(5) + 1j * rng.standard_normal(5)).astype(np.complex64)
    assert host.ZEPAbs(imgSrc=host.image(z), imgDst=None).dtype == np.float32  # the complex form, by kind


KEYWORD_ERRORS = [
    ("ZEPPureFFT", (1,), {"fscale": 1.0, "cimDst": None},
     "ZEPPureFFT() got an unexpected keyword argument 'fscale'; its parameters are (cimSrc, fScale, cimDst)"),
    ("ZEPPureFFT", (1, 1.0), {"fScale": 2.0, "cimDst": None}, "ZEPPureFFT() got multiple values for argument 'fScale'"),
    ("ZEPPureFFT", (), {"cimSrc": 1}, "ZEPPureFFT() missing 2 arguments: 'fScale', 'cimDst'"),
    ("ZEPPureFFT", (1, 2, 3, 4), {"cimDst": None}, r"ZEPPureFFT\(\) takes 3 arguments \(cimSrc, fScale, cimDst\) but 4"),
    ("ZEPLinearWarpX", (1,), {"fCoef": 1.0, "offset": 0.0, "imgDst": None},
     r"ZEPLinearWarpX\(\) fits none of its forms: \(imgSrc, fCoef, imgDst\) got an unexpected keyword argument "
     r"'offset'.*; \(imgSrc, fCoef, fOffset, imgDst\) got an unexpected"),
    ("ZEPPureFFT", (1, [2.0]), {"cimDst": None},
     "ZEPPureFFT(): argument 'fScale' is of type list; a script argument is an Image, a number, a str or None"),
    ("ZEPAbs", (np.zeros(2),), {"imgDst": None}, "ZEPAbs(): argument 'imgSrc' is a numpy array: pass a host image"),
    ("ZEPBandedCholDecompositionF", (None, None, "Up", 1), {}, "ZEPBandedCholDecompositionF(): uplo is one character"),
]


@pytest.mark.parametrize("name, args, kwargs, words", KEYWORD_ERRORS, ids=[w[:40] for *_, w in KEYWORD_ERRORS])
def test_bad_arguments_name_the_function_the_parameter_and_what_it_takes(host, name, args, kwargs, words):
    error = ValueError if "one character" in words else TypeError
    with pytest.raises(error, match=words if "\\(" in words else re.escape(words)):
        getattr(host, name)(*args, **kwargs)


def test_every_registered_function_has_its_signature_and_a_description_of_it_and_its_parameters(host):
    forms = {}
    for text in host.signatures():
        forms.setdefault(re.search(r"(\w+)\(", text)[1], []).append(text)
    assert len(forms) == 114
    for name, texts in forms.items():
        function = getattr(host, name)
        doc = function.__doc__
        assert all(text in doc for text in texts), name
        assert "(not described)" not in doc and "Family: " in doc, name
        first = re.search(r"\((.*)\)", texts[0])[1]
        names = [part.split()[-1].lstrip("*") for part in first.split(",") if part.strip()]
        assert list(inspect.signature(function).parameters) == names, name
        assert doc.splitlines()[0].startswith(f"{name}("), name
    assert str(inspect.signature(host.ZEPPureFFT)) == \
        "(cimSrc: lumadex.Image, fScale: float, cimDst: Optional[lumadex.Image]) -> lumadex.Image"
    shown = pydoc.render_doc(host.ZEPLinearWarp, renderer=pydoc.plaintext)
    assert "ZEPLinearWarp(imgSrc: Image, imgCoef: Image, fOffset: float, imgDst: Image | None) -> Image" in shown
    assert "Offset of the sampling positions" in shown and "fOffset : float" in shown


def test_a_second_host_shares_the_plugin_and_closing_one_leaves_the_other_working():
    first = lumadex.Host()
    ones = first.image(np.ones(4, np.complex64))
    second = lumadex.Host()  # a notebook cell run again
    twos = second.image(np.full(4, 2, np.complex64))
    for host in (first, second):
        for image, value in ((ones, 4), (twos, 8)):
            assert host.ZEPPureFFT(image, 1.0, None).array()[0] == value
    first.close()
    assert first.closed and not second.closed
    with pytest.raises(ValueError, match="this lumadex host is closed"):
        first.ZEPPureFFT(ones, 1.0, None)
    assert second.ZEPPureFFT(ones, fScale=1.0, cimDst=None).array()[0] == 4
    with pytest.raises(lumadex.UsageError, match="cannot report 0x030a0000: close the open Hosts first"):
        lumadex.Host(version="3.10.0")
    third = lumadex.Host()
    del third  # collected: its share ends, the plug-in stays for the second
    gc.collect()
    assert second.ZEPGetMaxThreads() >= 1
    second.close()
    assert second._core.closed  # the last share gone: the plug-in is shut down
    np.testing.assert_array_equal(twos.array(), 2)  # images stay readable
    with lumadex.Host() as fresh:  # a new session, to which the old images do not belong
        with pytest.raises(ValueError, match="another host"):
            fresh.ZEPPureFFT(ones, 1.0, None)
    del ones, twos
    gc.collect()
