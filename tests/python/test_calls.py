"""Script calls from Python: lookup by name, argument kinds, Ref, errors, and the host's life cycle."""

import gc
import re

import numpy as np
import pytest

import lumadex

FFT_SIGNATURE = "ComplexImagePtr ZEPPureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)"


# Every signature, in registration order (overloads appear twice).
REGISTRATION_ORDER = """
SetUseSIMD GetVersion GetVersionString GetMKLVersion GetMKLVersionString
ImageShifter PureImageShifter HalfPureToFull HalfPureToHalf FullToHalfPure HalfToHalfPure PureFFT PureIFFT FFT
IFFT HalfPureFFT HalfPureIFFT HalfFFT HalfIFFT RealFFT RealIFFT IsHermitian ImageShifterXY PureImageShifterXY
PureFFTXY PureIFFTXY ImageShifterX PureImageShifterX PureFFTX PureIFFTX HalfPureFFTX HalfPureIFFTX ImageShifterY
PureImageShifterY PureFFTY PureIFFTY ImageShifterZ PureImageShifterZ PureFFTZ PureIFFTZ HalfPureFFTZ HalfPureIFFTZ
MatrixMultiply MatrixInverse LUDecompositionF LUDecompositionF BandedCholDecompositionF
Conj Sqr Abs Inv Sqrt InvSqrt Cbrt InvCbrt Pow2o3 Pow3o2 Exp Expm1 Ln Log10 Log1p Cos Sin Tan Cosh Sinh Tanh Acos
Asin Atan Acosh Asinh Atanh Erf Erfc ErfInv Floor Ceil Trunc Round NearbyInt Rint Add Sub Mul Div Pow Hypot Atan2
MulByConj Abs CIS Powx SinCos Modf
AffineWarp LinearWarp LinearWarpX LinearWarpY LinearWarpZ LinearWarpXY LinearWarp LinearWarpX LinearWarpY
LinearWarpZ LinearWarpXY
SetNumThreads GetNumThreads GetMaxThreads DLLTraceInit DLLTraceGetCounter ShellExec GetSpecialDirectory
CrossCorrelationMask Survey SurveyDifference Reduce MinMax Min Max
""".split()


def test_every_signature_is_registered_once_in_block_order(host):
    names = [s.split(" ZEP", 1)[1].split("(")[0] for s in host.signatures() if " ZEP" in s]
    assert names == REGISTRATION_ORDER
    assert len(names) == 121 and len(set(names)) == 114


def test_registered_functions_are_listed_and_callable_as_attributes(host):
    assert FFT_SIGNATURE in host.signatures()
    assert {"ZEPPureFFT", "ZEPPureIFFT", "ZEPDLLTraceInit", "ZEPDLLTraceGetCounter"} <= set(host.function_names())
    assert "ZEPPureFFT" in dir(host)
    assert FFT_SIGNATURE in host.ZEPPureFFT.__doc__
    with pytest.raises(AttributeError):
        host.ZEPNoSuchFunction


def test_numbers_of_any_python_or_numpy_kind_pass_as_numbers(host):
    image = host.image(np.ones((2, 2), np.complex128))
    for scale in (2, 2.0, True, np.float32(2.0), np.int64(2), np.float64(2.0)):
        result = host.ZEPPureIFFT(image, scale, None)
        np.testing.assert_array_equal(result.array(), [[4 * float(scale), 0], [0, 0]])


def test_arguments_that_fit_no_form_raise_script_errors(host):
    image = host.image(np.ones(4, np.complex64))
    with pytest.raises(lumadex.ScriptError, match=re.escape("No form of ZEPPureFFT takes (image, number).")):
        host.ZEPPureFFT(image, 1.0)
    with pytest.raises(lumadex.ScriptError, match="No form of ZEPPureFFT"):
        host.ZEPPureFFT(image, "one", None)
    with pytest.raises(lumadex.ScriptError, match="No form of ZEPPureFFT"):
        host.ZEPPureFFT(1.0, 1.0, None)
    with pytest.raises(lumadex.ScriptError, match=re.escape("Unknown script function ZEPNothing.")):
        host.call("ZEPNothing", image)


def test_a_ref_where_a_value_is_expected_fits_no_form(host):
    image = host.image(np.ones(4, np.complex64))
    destination = lumadex.Ref(None)
    with pytest.raises(lumadex.ScriptError, match=re.escape("takes (image, number, out null)")):
        host.ZEPPureFFT(image, 1.0, destination)
    assert destination.value is None
    with pytest.raises(lumadex.ScriptError, match="out number"):
        host.ZEPPureFFT(image, lumadex.Ref(1.0), None)


def test_python_values_that_are_no_script_values_raise_type_errors(host):
    image = host.image(np.ones(4, np.complex64))
    for bad in (np.ones(4, np.complex64), [1.0], 1j, object(), lumadex.Ref(lumadex.Ref(None))):
        with pytest.raises(TypeError):
            host.ZEPPureFFT(image, bad, None)
    with pytest.raises(ValueError, match="integer"):
        host.ZEPPureFFT(image, 2**70, None)


def test_a_ref_keeps_its_value_when_a_call_fails_before_writing(host):
    image = host.image(np.ones(4, np.complex64))
    kept = lumadex.Ref(image)
    with pytest.raises(lumadex.ScriptError):
        host.ZEPPureFFT(kept, 1.0, None)
    assert kept.value is image


def test_a_closed_host_refuses_calls_and_its_images_stay_readable():
    with lumadex.Host() as host:
        image = host.image(np.arange(3, dtype=np.complex64))
        spectrum = host.ZEPPureFFT(image, 1.0, None)
    assert host.closed
    np.testing.assert_allclose(spectrum.array(), 3 * np.fft.ifft(np.arange(3)), atol=1e-5)
    with pytest.raises(ValueError, match="closed"):
        host.ZEPPureFFT(image, 1.0, None)
    with pytest.raises(ValueError, match="closed"):
        host.image(np.ones(2))
    host.close()  # closing twice is harmless
    del image, spectrum
    gc.collect()


def test_host_construction_errors():
    with pytest.raises(FileNotFoundError):
        lumadex.Host("/nonexistent/ZEP32.so")
    for version in ("three", (3, 300), -1, 2**32):
        with pytest.raises(ValueError):
            lumadex.Host(version=version)


def test_every_host_object_is_given_back_when_a_host_closes():
    host = lumadex.Host()
    baseline = host.live_objects()["total"]
    image = host.image(np.ones((8, 8), np.complex64))
    host.ZEPPureFFT(image, 1.0, None)
    host.counters()
    del image
    gc.collect()
    assert host.live_objects()["total"] == baseline
    host.close()
