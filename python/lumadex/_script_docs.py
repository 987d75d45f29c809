"""What the plug-in's script functions do: the text of the host face's docstrings.

One line per function, grouped by family. Parameters are explained once: the
meanings every family shares first, then each family's own, then the few that
one function reads differently. The lines restate the handlers in fft/,
shift/, warp/, vml/, linalg/, stats/ and util/.
"""

# Meanings shared by every family.
_COMMON = {
    "imgSrc": "The source image; never written.",
    "cimSrc": "The source image, complex (Complex 8 or Complex 16); never written.",
    "imgDst": "The destination, written and returned; None makes a new image.",
    "cimDst": "The destination, complex, written and returned; None makes a new image.",
}

# A destination that a transform makes gets reciprocal calibrations (scale
# 1 / (N scale), units "1/" + units forward, without "1/" inverse) and the
# source's tags.
_FOURIER = {
    "fScale": "Factor every result value is multiplied by, used as given (1.0 for none); a forward "
              "transform with a and its inverse with b multiply the data by a * b * (number of pixels).",
    "cimDst": "The destination (complex, the source's sizes; may be the source itself), written and returned; "
              "None makes a new image with reciprocal calibrations and the source's tags.",
    "imgDst": "The real destination, written and returned; None makes a new image with the source's tags.",
    "imgSrc": "The real source image (Real 4 or Real 8); never written.",
    "nOrigW": "Period along x: the width of the real-space image (a half spectrum's width is nOrigW // 2 + 1).",
    "nOrigH": "Period along y: the height of the real-space image.",
    "nOrigD": "Period along z: the depth of the real-space image.",
    "nCX": "Index of the zero frequency along x in the centred spectrum (N // 2 for FFT's spectra).",
    "nCY": "Index of the zero frequency along y in the centred spectrum.",
    "nCZ": "Index of the zero frequency along z in the centred spectrum.",
    "fShiftX": "Shift along x in real-space pixels (fractions allowed; the image wraps around).",
    "fShiftY": "Shift along y in real-space pixels.",
    "fShiftZ": "Shift along z in real-space pixels.",
    "fSign": "Sign of the phase ramp exp(i 2 pi fSign k shift / N): +1 moves the image by +shift for the "
             "positive-exponent spectra of PureFFT, FFT and RealFFT; -1 for negative-exponent ones "
             "(HalfPureFFT, numpy.fft).",
}

_SHIFTER = "Multiplies a {layout} spectrum by the phase ramp that shifts its image by {what} (sub-pixel, periodic)."
_PURE = "natural-order (zero frequency at index 0)"
_CENTRED = "centred (zero frequency at index nCX, nCY, nCZ)"

_FOURIER_FUNCTIONS = {
    "ImageShifter": _SHIFTER.format(layout=_CENTRED, what="(fShiftX, fShiftY, fShiftZ) pixels"),
    "PureImageShifter": _SHIFTER.format(layout=_PURE, what="(fShiftX, fShiftY, fShiftZ) pixels"),
    "ImageShifterXY": _SHIFTER.format(layout=_CENTRED, what="(fShiftX, fShiftY) pixels in every plane"),
    "PureImageShifterXY": _SHIFTER.format(layout=_PURE, what="(fShiftX, fShiftY) pixels in every plane"),
    "ImageShifterX": _SHIFTER.format(layout=_CENTRED, what="fShiftX pixels along x"),
    "PureImageShifterX": _SHIFTER.format(layout=_PURE, what="fShiftX pixels along x"),
    "ImageShifterY": _SHIFTER.format(layout=_CENTRED, what="fShiftY pixels along y"),
    "PureImageShifterY": _SHIFTER.format(layout=_PURE, what="fShiftY pixels along y"),
    "ImageShifterZ": _SHIFTER.format(layout=_CENTRED, what="fShiftZ pixels along z"),
    "PureImageShifterZ": _SHIFTER.format(layout=_PURE, what="fShiftZ pixels along z"),
    "HalfPureToFull": "Half-pure spectrum of a real image to the full centred layout (the destination's sizes "
                      "are the full ones; Complex 8 only).",
    "HalfPureToHalf": "Half-pure spectrum to the half layout: rows centred and conjugated (at most 2-D).",
    "FullToHalfPure": "Full centred spectrum of a real image to the half-pure layout (columns 0 .. W/2).",
    "HalfToHalfPure": "Half layout back to the half-pure layout.",
    "PureFFT": "Complex FFT, natural order: dst[k] = fScale * sum_x src[x] exp(+2 pi i k.x / N).",
    "PureIFFT": "Inverse of PureFFT, natural order: dst[x] = fScale * sum_k src[k] exp(-2 pi i k.x / N).",
    "FFT": "Complex FFT, centred: PureFFT's spectrum with the zero frequency moved to index N // 2 on every axis.",
    "IFFT": "Inverse of FFT: a centred spectrum back to the image.",
    "HalfPureFFT": "Real FFT: the W // 2 + 1 columns of the half-pure spectrum, natural order, "
                   "exp(-2 pi i k.x / N).",
    "HalfPureIFFT": "Inverse of HalfPureFFT: a real image from its half-pure spectrum (a new one is "
                    "2 (W - 1) wide; give the destination for an odd width).",
    "HalfFFT": "Real FFT into the half layout: W // 2 + 1 columns, rows centred (at most 2-D).",
    "HalfIFFT": "Inverse of HalfFFT: a real image from its half-layout spectrum.",
    "RealFFT": "Real FFT into the full centred layout: FFT of the image as complex (at most 3-D).",
    "RealIFFT": "Inverse of RealFFT: a real image from its full centred spectrum.",
    "IsHermitian": "1.0 when the full centred spectrum equals the conjugate of its point reflection about "
                   "the centre (within 1e-5 of its largest value), else 0.0.",
    "PureFFTXY": "PureFFT over x and y only, for every plane.",
    "PureIFFTXY": "PureIFFT over x and y only, for every plane.",
    "PureFFTX": "PureFFT along x only, for every line.",
    "PureIFFTX": "PureIFFT along x only, for every line.",
    "PureFFTY": "PureFFT along y only, for every column.",
    "PureIFFTY": "PureIFFT along y only, for every column.",
    "PureFFTZ": "PureFFT along z only.",
    "PureIFFTZ": "PureIFFT along z only.",
    "HalfPureFFTX": "HalfPureFFT along x only: N // 2 + 1 coefficients per line.",
    "HalfPureIFFTX": "Inverse of HalfPureFFTX: real lines from their half-pure coefficients.",
    "HalfPureFFTZ": "HalfPureFFT along z only: N // 2 + 1 planes.",
    "HalfPureIFFTZ": "Inverse of HalfPureFFTZ.",
}
_SHIFTED = {"cimDst": "The destination (complex, the source's sizes; may be the source itself), written and "
                      "returned; None makes a copy of the source to shift."}
_FOURIER_OVERRIDES = {
    **{name: _SHIFTED for name in _FOURIER_FUNCTIONS if "Shifter" in name},
    "IsHermitian": {"imgSrc": "A full centred spectrum (complex, at most 3-D)."},
    "HalfPureToFull": {"cimSrc": "A half-pure spectrum (Complex 8).",
                       "cimDst": "The full spectrum to write (its sizes are the full ones)."},
}

_MATRIX = {
    "imgA": "Matrix A: a 2-D Real 4 or Real 8 image read row-major (rows = height).",
    "imgB": "Right-hand sides B: each image row one b (rows of X solve x A = b).",
    "imgDst": "The destination (imgA's data type; imgB's sizes for a solve), written.",
    "isColMajor": "True reads a w-wide, h-high image as the w x h matrix (else h x w).",
    "eTransA": "True transposes A as read.",
    "eTransB": "True transposes B as read.",
    "fAlpha": "Factor of the product.",
    "fBeta": "Factor of imgC's old values.",
    "imgC": "The result C, updated in place and returned.",
    "uplo": "Side of the band to read: 'U' (the pixels left of the diagonal) or 'L' (right of it); a one-letter "
            "str or its code.",
    "kd": "Half-width of the band: 0 <= kd < the matrix size.",
}
_MATRIX_FUNCTIONS = {
    "MatrixMultiply": "imgC = fAlpha op(imgA) op(imgB) + fBeta imgC, in place (BLAS gemm; all Real 4 or all Real 8).",
    "MatrixInverse": "Inverse of the square imgA into imgDst (which may be imgA); returns LAPACK's status "
                     "(0, or k > 0: singular at diagonal k).",
    "LUDecompositionF": "Solves X A = B (LU with pivoting): into imgDst returning LAPACK's status, or "
                        "into a new image that it returns (a singular A is then a script error).",
    "BandedCholDecompositionF": "Solves A X = B for a symmetric positive-definite band matrix A held in full, "
                                "into a new image (Real 8 when either image is).",
}

_ELEMENTWISE = {
    "imgSrc": "The operand: real (Real 4, Real 8; integer and binary ones are converted) or complex as the "
              "function takes it; never written.",
    "imgA": "The first operand.",
    "imgB": "The second operand (at least as many pixels as imgA).",
    "fB": "The exponent.",
    "imgDst": "The destination, whose data type decides the precision (Real 4 / 8, Complex 8 / 16); None makes "
              "a copy of the source (Real 4 for an integer or binary source).",
    "cimDst": "The complex destination; None makes a new image.",
    "imgSin": "A Ref: an image to receive sin(x) (Ref(None) makes one).",
    "imgCos": "A Ref: an image to receive cos(x) (Ref(None) makes one).",
    "imgVal": "A Ref: an image to receive the integral part, toward zero (Ref(None) makes one).",
    "imgRem": "A Ref: an image to receive the fractional part (Ref(None) makes one).",
}
_REAL, _BOTH, _COMPLEX = " (real)", " (real or complex)", " (complex)"
_ELEMENTWISE_FUNCTIONS = {
    "Conj": "conj(x)" + _COMPLEX, "Sqr": "x ** 2" + _REAL, "Abs": "|x| (real; a complex x gives a real |x|)",
    "Inv": "1 / x" + _REAL, "Sqrt": "sqrt(x)" + _BOTH, "InvSqrt": "1 / sqrt(x)" + _REAL,
    "Cbrt": "cube root of x" + _REAL, "InvCbrt": "1 / cbrt(x)" + _REAL, "Pow2o3": "x ** (2/3)" + _REAL,
    "Pow3o2": "x ** (3/2)" + _REAL, "Exp": "e ** x" + _BOTH, "Expm1": "e ** x - 1" + _REAL,
    "Ln": "natural logarithm" + _BOTH, "Log10": "base-10 logarithm" + _BOTH, "Log1p": "ln(1 + x)" + _REAL,
    "Cos": "cos(x)" + _BOTH, "Sin": "sin(x)" + _BOTH, "Tan": "tan(x)" + _BOTH, "Cosh": "cosh(x)" + _BOTH,
    "Sinh": "sinh(x)" + _BOTH, "Tanh": "tanh(x)" + _BOTH, "Acos": "arccos(x)" + _BOTH,
    "Asin": "arcsin(x)" + _BOTH, "Atan": "arctan(x)" + _BOTH, "Acosh": "arccosh(x)" + _BOTH,
    "Asinh": "arcsinh(x)" + _BOTH, "Atanh": "arctanh(x)" + _BOTH, "Erf": "error function" + _REAL,
    "Erfc": "1 - erf(x)" + _REAL, "ErfInv": "inverse error function" + _REAL,
    "Floor": "largest whole number <= x" + _REAL, "Ceil": "smallest whole number >= x" + _REAL,
    "Trunc": "x rounded toward zero" + _REAL, "Round": "x rounded to nearest, halves away from zero" + _REAL,
    "NearbyInt": "x rounded to nearest, halves to even" + _REAL, "Rint": "x rounded to nearest, halves to even" + _REAL,
    "Add": "a + b" + _BOTH, "Sub": "a - b" + _BOTH, "Mul": "a * b" + _BOTH, "Div": "a / b" + _REAL,
    "Pow": "a ** b" + _BOTH, "Hypot": "sqrt(a ** 2 + b ** 2)" + _REAL, "Atan2": "arctan2(a, b)" + _REAL,
    "MulByConj": "a * conj(b)" + _COMPLEX,
    "CIS": "cos(x) + i sin(x): a real image to a complex one",
    "Powx": "a ** fB for a real image and a number",
    "SinCos": "sin(x) and cos(x) into the two out-images" + _REAL,
    "Modf": "integral part (toward zero) and fractional part into the two out-images" + _REAL,
}
_ELEMENTWISE_FUNCTIONS = {name: f"Element-wise {text}." for name, text in _ELEMENTWISE_FUNCTIONS.items()}

_WARP = {
    "imgSrc": "The source image: Real 4 or complex (AffineWarp: Real 4 or Real 8); never written.",
    "imgDst": "The destination (the source's data type), written and returned; None makes a new image "
              "(warped axes ceil(size * factor) long).",
    "imgCoefs": "A Real 8 image of 3 x 2 pixels: row 0 holds (a0, a1, a2), row 1 (b0, b1, b2); destination pixel "
                "(x, y) takes the source's bilinear value at u = a0 x + a1 y + a2, v = b0 x + b1 y + b2.",
    "fMean": "Value of the destination pixels whose 2 x 2 neighbourhood is not wholly inside the source (a whole "
             "number).",
    "fCoef": "Scale factor along the axis (finite, > 0): destination index d samples the source at "
             "d / fCoef - fOffset.",
    "imgCoef": "A Real 8 image whose first pixels along x hold the factors: (cx, cy) for LinearWarpXY, "
               "(cx, cy, cz) for LinearWarp; each finite and > 0.",
    "fOffset": "Offset of the sampling positions in source pixels (s = d / factor - fOffset); the forms "
               "without it use 0.",
}
_LINEAR = "Resamples {what}; linear interpolation, edges clamped."
_WARP_FUNCTIONS = {
    "AffineWarp": "Affine warp of the first plane with bilinear interpolation (coefficients in imgCoefs).",
    "LinearWarp": _LINEAR.format(what="every axis longer than one pixel by its own factor (linear, bilinear "
                                      "or trilinear)"),
    "LinearWarpX": _LINEAR.format(what="along x by fCoef"),
    "LinearWarpY": _LINEAR.format(what="along y by fCoef"),
    "LinearWarpZ": _LINEAR.format(what="along z by fCoef"),
    "LinearWarpXY": _LINEAR.format(what="x and y of every plane by (cx, cy)"),
}

_STATISTICS = {
    "imgSrc": "The image (MinMax, Min, Max and Survey read x, y and z of the first volume).",
    "imgSrc1": "The first image.",
    "imgSrc2": "The second image, paired with the first pixel by pixel in scan order.",
    "cimTarg": "The target's centred spectrum (Complex 8 or Complex 16).",
    "cimRef": "The reference's centred spectrum, of the target's sizes and type.",
    "cimDst": "The destination (the target's sizes and type), written and returned; None makes a copy of the "
              "target.",
    "nCX": "Index of the zero frequency along x (inside the image).",
    "nCY": "Index of the zero frequency along y.",
    "nCZ": "Index of the zero frequency along z.",
    "fScaleX": "Frequency scale along x for the radial mask (s = k fScaleX).",
    "fScaleY": "Frequency scale along y.",
    "fScaleZ": "Frequency scale along z.",
    "fRad": "Radius of the mask w = exp(-(|s|^2 / fRad^2)^2); 0 for none.",
    "eMode": "Normalisation of the cross-power spectrum P: 1 none, 2 by 1/sqrt|P|, 3 by 1/|P| (phase "
             "correlation); any other value leaves the destination as it is.",
    "fMean": "A Ref: receives the mean modulus of the result (the centre left out of the sum).",
}
_STATISTICS.update({name: f"A Ref: receives {text}." for name, text in {
    "fMin": "the smallest value", "fMax": "the largest value", "fSum": "the sum", "fSqsum": "the sum of squares",
    "fSumAbs": "the sum of absolute values", "fSum1": "the first image's sum",
    "fSqSum1": "the first image's sum of squares", "fSum2": "the second image's sum",
    "fSqSum2": "the second image's sum of squares", "fSumDiff": "the sum of the differences a - b",
    "fSumSqDiff": "the sum of squared differences", "fSumAbsDiff": "the sum of absolute differences",
    "nMinX": "the smallest value's x", "nMinY": "the smallest value's y", "nMinZ": "the smallest value's z",
    "nMaxX": "the largest value's x", "nMaxY": "the largest value's y", "nMaxZ": "the largest value's z",
    "nX": "the position's x", "nY": "the position's y", "nZ": "the position's z"}.items()})
_STATISTICS_FUNCTIONS = {
    "CrossCorrelationMask": "The normalised, masked cross-power spectrum of two centred spectra, phase-shifted so "
                            "that zero displacement lands at the centre of the correlation image.",
    "Survey": "Smallest and largest value, sum, sum of squares and sum of absolute values, in one pass.",
    "SurveyDifference": "Sums and sums of squares of two images and of their difference, and its absolute sum.",
    "Reduce": "2x reduction: each pixel of a new image of half the sizes is the average of a 2, 2 x 2 or "
              "2 x 2 x 2 block.",
    "MinMax": "Smallest and largest value with their positions.",
    "Min": "The smallest value; its position into the out-arguments.",
    "Max": "The largest value; its position into the out-arguments.",
}

_UTILITIES = {
    "isUseSIMD": "0 switches the vectorised (SIMD) paths off; any other value reads the processor again.",
    "n": "Number of threads, 1 to 1024.",
    "strCommandLine": "One file name or URL, never parsed by a shell.",
    "eType": "A Windows special-folder (CSIDL) code, mapped to the XDG user folders (0 desktop, 5 documents...).",
    "doCreate": "Not 0 creates the folder when it is missing.",
}
_UTILITY_FUNCTIONS = {
    "SetUseSIMD": "Switches the plug-in's vectorised code paths off or back on.",
    "GetVersion": "The plug-in's version as major << 24 | minor << 16 | build << 8 | revision.",
    "GetVersionString": "The plug-in's name and version as text.",
    "GetMKLVersion": "The numeric layer's version as major << 24 | minor << 16 | update.",
    "GetMKLVersionString": "The numeric layer's version and those of the libraries under it (FFTW, OpenBLAS) "
                           "as text.",
    "SetNumThreads": "Sets the plug-in's thread count (its loops, FFT plans made afterwards, OpenBLAS).",
    "GetNumThreads": "OpenMP's team size where the script runs: 1, outside any parallel part.",
    "GetMaxThreads": "The plug-in's thread count: the most threads a parallel part uses (SetNumThreads sets it).",
    "DLLTraceInit": "Empties the call counters.",
    "DLLTraceGetCounter": "The call counters as a tag group: {name: {'Count': calls, 'Ticks': seconds}} "
                          "(lumadex.Host.counters() reads them).",
    "ShellExec": "Opens a file or URL with the desktop's application, or starts an executable; detached.",
    "GetSpecialDirectory": "The path of a user folder, ending in '/', or None when it has no counterpart.",
}

# (family, its parameters, its functions, per-function parameter overrides)
FAMILIES = [
    ("Fourier transforms and shifts", _FOURIER, _FOURIER_FUNCTIONS, _FOURIER_OVERRIDES),
    ("Linear algebra", _MATRIX, _MATRIX_FUNCTIONS, {}),
    ("Element-wise mathematics", _ELEMENTWISE, _ELEMENTWISE_FUNCTIONS,
     {"Abs": {"imgDst": "The real destination; None makes a new image."}}),
    ("Warps", _WARP, _WARP_FUNCTIONS, {}),
    ("Statistics and correlation", _STATISTICS, _STATISTICS_FUNCTIONS, {}),
    ("Utilities", _UTILITIES, _UTILITY_FUNCTIONS, {}),
]

PREFIX = "ZEP"


def describe(name):
    """(family, one-line description, {parameter: meaning}) of the script function `name` (with its prefix).

    None when the function is not in the table.
    """
    short = name[len(PREFIX):] if name.startswith(PREFIX) else name
    for family, parameters, functions, overrides in FAMILIES:
        if short in functions:
            meanings = {**_COMMON, **parameters, **overrides.get(short, {})}
            return family, functions[short], meanings
    return None
