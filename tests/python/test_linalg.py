"""The matrix functions against numpy.linalg and scipy.linalg.

An image is read row-major (the numpy array itself); LAPACK sees its
transpose, so the solvers solve X·A = B, that is solve(A.T, B.T).T.
"""
import ctypes
import ctypes.util
import itertools

import numpy as np
import pytest
import scipy.linalg
import scipy.linalg.lapack

import lumadex

TOLERANCE = {np.float32: 2e-4, np.float64: 1e-10}
REAL_MESSAGE = "All data type should be Real 4 or Real 8."
SIZE_MESSAGE = "Invalid image size."


def close(got, want, dtype):
    assert np.linalg.norm(got - want) <= TOLERANCE[dtype] * max(np.linalg.norm(want), 1.0)


def fails(host, message, function, *args):
    images = [a for a in args if isinstance(a, lumadex.Image)]
    before = [image.array() for image in images]
    with pytest.raises(lumadex.ScriptError) as failure:
        host.call(function, *args)
    assert str(failure.value) == message
    for image, pixels in zip(images, before):
        np.testing.assert_array_equal(image.array(), pixels)


def well_conditioned(rng, n, dtype):
    return (rng.standard_normal((n, n)) + n * np.eye(n)).astype(dtype)


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("col_major, trans_a, trans_b", list(itertools.product([False, True], repeat=3)))
def test_product_in_every_reading(host, rng, dtype, col_major, trans_a, trans_b):
    m, k, n = 3, 5, 4
    op_a, op_b, c0 = (rng.standard_normal(s).astype(dtype) for s in [(m, k), (k, n), (m, n)])
    as_image = (lambda matrix: matrix.T) if col_major else (lambda matrix: matrix)
    a = host.image(np.ascontiguousarray(as_image(op_a.T if trans_a else op_a)))
    b = host.image(np.ascontiguousarray(as_image(op_b.T if trans_b else op_b)))
    c = host.image(np.ascontiguousarray(as_image(c0)))
    assert host.ZEPMatrixMultiply(col_major, trans_a, trans_b, 1.5, a, b, -0.5, c) is c
    close(c.array(), as_image(1.5 * op_a @ op_b - 0.5 * c0), dtype)
    made = host.ZEPMatrixMultiply(col_major, trans_a, trans_b, 2.0, a, b, 7.0, None)  # starts as zeros
    assert made.dtype == dtype
    close(made.array(), as_image(2.0 * op_a @ op_b), dtype)


def test_product_of_aliased_and_sub_area_images(host, rng):
    pixels = rng.standard_normal((4, 4))
    a = host.image(pixels)
    host.ZEPMatrixMultiply(False, False, False, 1.0, a, a, 1.0, a)  # imgC is imgA and imgB
    close(a.array(), pixels @ pixels + pixels, np.float64)
    assert np.isnan(host.ZEPMatrixMultiply(False, False, False, 1.0, a, a, np.nan, None).array()).all()  # NaN·0

    parent_pixels = rng.standard_normal((8, 9))
    parent = host.image(parent_pixels)
    factor, product = parent.subarea(1, 2, 5, 6), parent.subarea(3, 4, 7, 8)  # overlapping
    host.ZEPMatrixMultiply(False, True, False, 1.0, factor, factor, 0.0, product)
    expected = parent_pixels.copy()
    expected[3:7, 4:8] = parent_pixels[1:5, 2:6].T @ parent_pixels[1:5, 2:6]
    close(parent.array(), expected, np.float64)


def test_product_rejections(host, rng):
    a3x2, b3x4 = host.image(np.ones((2, 3))), host.image(np.ones((3, 4)))
    c = host.image(np.zeros((2, 4)))
    different = "Images of different size cannot appear in this function."
    fails(host, different, "ZEPMatrixMultiply", False, True, False, 1.0, a3x2, b3x4, 0.0, None)
    fails(host, different, "ZEPMatrixMultiply", False, False, False, 1.0, a3x2, b3x4, 0.0, host.image(np.zeros((4, 2))))
    fails(host, "All data type should be same.", "ZEPMatrixMultiply", False, False, False, 1.0,
          host.image(np.ones((2, 3), np.float32)), b3x4, 0.0, c)
    fails(host, "All data type should be Real.", "ZEPMatrixMultiply", False, False, False, 1.0,
          host.image(np.ones((2, 3), np.complex64)), b3x4, 0.0, None)
    fails(host, SIZE_MESSAGE, "ZEPMatrixMultiply", False, False, False, 1.0, a3x2, host.image(np.ones((2, 3, 4))), 0.0, c)


@pytest.mark.parametrize("type_a, type_b", [(np.float32, np.float32), (np.float64, np.float32), (np.float32, np.float64)])
def test_lu_solve_both_forms(host, rng, type_a, type_b):
    a_pixels, b_pixels = well_conditioned(rng, 6, type_a), rng.standard_normal((3, 6)).astype(type_b)
    a, b = host.image(a_pixels), host.image(b_pixels)
    expected = np.linalg.solve(a_pixels.T.astype(float), b_pixels.T.astype(float)).T
    destination = host.image(np.zeros((3, 6), type_a))
    assert host.ZEPLUDecompositionF(a, b, destination) == 0
    close(destination.array(), expected, type_a)
    made = host.ZEPLUDecompositionF(a, b)
    assert made.dtype == type_a
    close(made.array(), expected, type_a)
    np.testing.assert_array_equal(a.array(), a_pixels)

    square_b = host.image(rng.standard_normal((6, 6)).astype(type_a))
    wanted = np.linalg.solve(a_pixels.T.astype(float), square_b.array().T.astype(float)).T
    assert host.ZEPLUDecompositionF(a, square_b, a) == 0  # the destination is A itself
    close(a.array(), wanted, type_a)


@pytest.fixture(params=[1, 2], ids=["1 thread", "2 threads"])
def threads(request):
    """The plug-in's thread count (OpenMP's); the inverse takes another LAPACK path with one."""
    gomp = ctypes.CDLL(ctypes.util.find_library("gomp"))
    saved = gomp.omp_get_max_threads()
    gomp.omp_set_num_threads(request.param)
    yield request.param
    gomp.omp_set_num_threads(saved)


def test_inverse_in_place_into_sub_area_and_singular(host, rng, threads):
    image = host.image(np.array([[4.0, 7.0], [2.0, 6.0]]))
    assert host.ZEPMatrixInverse(image, image) == 0
    close(image.array(), [[0.6, -0.7], [-0.2, 0.4]], np.float64)

    a_pixels = well_conditioned(rng, 5, np.float32)
    parent = host.image(np.zeros((7, 8), np.float32))
    assert host.ZEPMatrixInverse(host.image(a_pixels), parent.subarea(1, 2, 6, 7)) == 0
    expected = np.zeros((7, 8))
    expected[1:6, 2:7] = np.linalg.inv(a_pixels.astype(float))
    close(parent.array(), expected, np.float32)

    singular = np.array([[1.0, 2.0, 3.0], [2.0, 4.0, 6.0], [0.0, 1.0, 5.0]])
    status = scipy.linalg.lapack.dgetrf(singular.T)[2]
    assert status > 0
    assert host.ZEPMatrixInverse(host.image(singular), host.image(np.zeros((3, 3)))) == status
    assert host.ZEPMatrixInverse(host.image(np.zeros((2, 2))), host.image(np.zeros((2, 2)))) == 1
    assert host.ZEPLUDecompositionF(host.image(singular), host.image(np.ones((2, 3))), host.image(np.ones((2, 3)))) == status
    fails(host, f"error at .\\LUDecomposition(126):{status}", "ZEPLUDecompositionF",
          host.image(singular), host.image(np.ones((2, 3))))


def test_inverse_and_lu_rejections(host):
    real4, real8 = host.image(np.eye(3, dtype=np.float32)), host.image(np.eye(3))
    fails(host, REAL_MESSAGE, "ZEPMatrixInverse", real4, real8)
    fails(host, REAL_MESSAGE, "ZEPMatrixInverse", host.image(np.eye(3, dtype=np.int32)), host.image(np.eye(3, dtype=np.int32)))
    fails(host, SIZE_MESSAGE, "ZEPMatrixInverse", real8, host.image(np.eye(4)))
    fails(host, SIZE_MESSAGE, "ZEPMatrixInverse", host.image(np.ones((2, 3))), host.image(np.ones((2, 3))))
    fails(host, REAL_MESSAGE, "ZEPLUDecompositionF", real8, host.image(np.ones((1, 3), np.complex64)))
    fails(host, REAL_MESSAGE, "ZEPLUDecompositionF", real8, real8, real4)
    fails(host, SIZE_MESSAGE, "ZEPLUDecompositionF", host.image(np.ones((3, 4))), host.image(np.ones((2, 4))))
    fails(host, SIZE_MESSAGE, "ZEPLUDecompositionF", real8, host.image(np.ones((2, 4))))
    fails(host, SIZE_MESSAGE, "ZEPLUDecompositionF", real8, host.image(np.ones((2, 3))), host.image(np.ones((3, 3))))


def banded(rng, n, bandwidth):
    """A symmetric band matrix of the given true half-width, diagonally dominant."""
    full = rng.uniform(-1, 1, (n, n)) * (np.abs(np.subtract.outer(np.arange(n), np.arange(n))) <= bandwidth)
    return np.tril(full) + np.tril(full, -1).T + 2 * bandwidth * np.eye(n)


@pytest.mark.parametrize("uplo", "UuLl")
@pytest.mark.parametrize("type_a, type_b", [(np.float32, np.float32), (np.float32, np.float64), (np.float64, np.float64)])
def test_banded_solve_reads_one_triangle_of_the_given_band(host, rng, uplo, type_a, type_b):
    n, kd = 9, 2
    symmetric = banded(rng, n, 4)  # wider than the band handed over
    # 'U' reads the pixels left of the diagonal (numpy's lower triangle); the
    # other triangle holds garbage that must not be read.
    garbage = rng.uniform(5, 9, (n, n))
    upper = uplo in "Uu"
    pixels = np.where(np.tri(n, dtype=bool) if upper else np.tri(n, dtype=bool).T, symmetric, garbage)
    b_pixels = rng.standard_normal((4, n)).astype(type_b)
    a, b = host.image(pixels.astype(type_a)), host.image(b_pixels)
    result = host.ZEPBandedCholDecompositionF(a, b, ord(uplo), kd)
    dtype = np.float64 if np.float64 in (type_a, type_b) else np.float32
    assert result.dtype == dtype
    read = symmetric.astype(type_a).astype(float)
    lower_band = np.array([np.pad(np.diagonal(read, -d), (0, d)) for d in range(kd + 1)])
    truncated = scipy.linalg.solveh_banded(lower_band, b_pixels.T.astype(float), lower=True)
    close(result.array(), truncated.T, dtype)
    np.testing.assert_array_equal(a.array(), pixels.astype(type_a))


@pytest.mark.parametrize("dtype, line", [(np.float32, 117), (np.float64, 81)])
def test_banded_solve_of_a_matrix_not_positive_definite(host, dtype, line):
    pixels = banded(np.random.default_rng(3), 6, 1)
    pixels[3, 3] = -10.0  # the leading minor of order 4 is the first that fails
    fails(host, f"error at .\\BandedCholDecomposition({line}):4", "ZEPBandedCholDecompositionF",
          host.image(pixels.astype(dtype)), host.image(np.ones((2, 6), dtype)), ord("L"), 1)


def test_banded_solve_rejections(host):
    a, b = host.image(np.eye(4)), host.image(np.ones((2, 4)))
    complex_image = host.image(np.eye(4, dtype=np.complex64))
    fails(host, "'uplo' should be 'U' or 'L'.", "ZEPBandedCholDecompositionF", complex_image, b, ord("x"), 1)
    fails(host, REAL_MESSAGE, "ZEPBandedCholDecompositionF", complex_image, b, ord("U"), 1)
    kd_message = "'kd' should be at least 0 and less than the size of the matrix."
    for kd in (-1, 4):
        fails(host, kd_message, "ZEPBandedCholDecompositionF", a, b, ord("U"), kd)
    fails(host, SIZE_MESSAGE, "ZEPBandedCholDecompositionF", host.image(np.ones((4, 5))), b, ord("U"), 1)
    fails(host, SIZE_MESSAGE, "ZEPBandedCholDecompositionF", a, host.image(np.ones((2, 5))), ord("U"), 1)


def test_counters_and_the_blas_thread_count(host):
    gomp = ctypes.CDLL(ctypes.util.find_library("gomp"))
    openblas = ctypes.CDLL("libopenblas.so.0")
    saved = gomp.omp_get_max_threads()
    host.reset_counters()
    a, b = host.image(np.eye(3)), host.image(np.ones((1, 3)))
    try:
        for threads in (1, 2, 1):
            # OpenBLAS out of step (setting its count sets OpenMP's too), then
            # the plug-in's count; the next call must hand that to OpenBLAS.
            openblas.openblas_set_num_threads(3 - threads)
            gomp.omp_set_num_threads(threads)
            assert openblas.openblas_get_num_threads() == 3 - threads
            host.ZEPMatrixMultiply(False, False, False, 1.0, a, a, 0.0, None)
            assert openblas.openblas_get_num_threads() == threads
    finally:
        gomp.omp_set_num_threads(saved)
    host.ZEPMatrixInverse(a, host.image(np.eye(3)))
    host.ZEPLUDecompositionF(a, b, host.image(np.ones((1, 3))))
    host.ZEPLUDecompositionF(a, b)
    host.ZEPBandedCholDecompositionF(a, b, ord("U"), 0)
    counts = {name: c["count"] for name, c in host.counters().items()}
    assert counts == {"zep::MatrixMultiplyDM": 3, "zep::MatrixInverseDM": 1, "zep::LUDecompositionWithStatusFDM": 1,
                      "zep::LUDecompositionFDM": 1, "zep::BandedCholDecompositionFDM": 1}
