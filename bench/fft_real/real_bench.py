"""Speed of the real-image spectra, the axis transforms and the in-place layout
conversions, as ratios against references measured in the same run.

Per case and thread count, in milliseconds (medians of steady-state calls):
  zep       the script function through the host stand-in, destination given
  fftw      raw FFTW in a separate process, an FFTW_MEASURE plan of the same
            job made from the wisdom the plug-in measured and saved: the
            same plan, so zep/fftw is what the plug-in's layers add to it
  fresh     raw FFTW in another process measuring its own plan: FFTW_MEASURE
            picks among plans whose speeds differ by up to 40% on this
            machine from one measurement to the next, so zep/fresh shows
            that lottery besides the layers' cost
            (zep, fftw and fresh take five turns each; each figure is the
            best of its turns' medians)
  scipy     scipy.fft doing the same job with the same number of workers
  other     a second reference where the case names one: numpy's way to the
            full centred spectrum, ZEPFFT (or ZEPPureFFT where ZEPFFT is not
            registered) of the complex copy, or a memcpy of the image
The plug-in's transforms settle on measured plans: each case is first called
in a tight loop long enough for the FFT layer to measure its plan, then with
short idle gaps until its call time stops improving.

Usage: bench/fft_real/run.sh [build-dir] [case-name ...]
"""
import ctypes
import os
import statistics
import subprocess
import sys
import time

import numpy as np
import scipy.fft

N = 2048
STACK = (128, 256, 256)  # depth, height, width

# name: (kind, function, shape (numpy order), precision)
CASES = {}
for bits, real, cplx in (("f32", np.float32, np.complex64), ("f64", np.float64, np.complex128)):
    CASES[f"HalfPureFFT-{bits}"] = ("r2c", "ZEPHalfPureFFT", (N, N), real)
    CASES[f"RealFFT-{bits}"] = ("full", "ZEPRealFFT", (N, N), real)
    CASES[f"PureFFTX-{bits}"] = ("axis", "ZEPPureFFTX", (N, N), cplx)
    CASES[f"PureFFTY-{bits}"] = ("axis", "ZEPPureFFTY", (N, N), cplx)
    CASES[f"PureFFTZ-{bits}"] = ("axis", "ZEPPureFFTZ", STACK, cplx)
for function in ("HalfPureToHalf", "HalfToHalfPure", "HalfPureToFull", "FullToHalfPure"):
    CASES[function] = ("convert", f"ZEP{function}", (N, N), np.complex64)

AXIS = {"ZEPPureFFTX": -1, "ZEPPureFFTY": -2, "ZEPPureFFTZ": -3}
ROUNDS, ROUND_S = 5, 0.4  # turns of the plug-in and raw FFTW, and each turn's timing budget


def median_ms(call, budget_s=1.5, least=5):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < least or (time.perf_counter() - start < budget_s and len(times) < 100):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def aligned(shape, dtype):
    dtype = np.dtype(dtype)
    count = int(np.prod(shape))
    raw = np.empty(count * dtype.itemsize + 64, np.uint8)
    offset = (-raw.ctypes.data) % 64
    return raw[offset: offset + count * dtype.itemsize].view(dtype).reshape(shape)


# --- raw FFTW (child process) -----------------------------------------------------------

def wisdom_file(single):
    return os.path.join(os.environ["XDG_CACHE_HOME"], "lumadex", f"fftw-wisdom-{'single' if single else 'double'}")


def raw_fftw_call(kind, function, shape, dtype, threads, same_plan):
    single = np.dtype(dtype) in (np.float32, np.complex64)
    suffix = "f" if single else ""
    lib = ctypes.CDLL(f"libfftw3{suffix}_omp.so.3", mode=ctypes.RTLD_GLOBAL)
    p = f"fftw{suffix}_"
    getattr(lib, p + "init_threads")()
    if same_plan:
        load = getattr(lib, p + "import_wisdom_from_filename")
        load.argtypes = [ctypes.c_char_p]
        if not load(wisdom_file(single).encode()):
            raise SystemExit("the plug-in's wisdom file could not be read")
    getattr(lib, p + "plan_with_nthreads")(threads)
    void, i = ctypes.c_void_p, ctypes.c_int
    measure = 0
    execute = getattr(lib, p + "execute")
    execute.argtypes = [void]
    real = np.float32 if single else np.float64
    cplx = np.complex64 if single else np.complex128
    if kind in ("r2c", "full"):
        plan_r2c = getattr(lib, p + "plan_dft_r2c_2d")
        plan_r2c.restype, plan_r2c.argtypes = void, [i, i, void, void, ctypes.c_uint]
        x, y = aligned(shape, real), aligned((shape[0], shape[1] // 2 + 1), cplx)
        plan = plan_r2c(shape[0], shape[1], x.ctypes.data, y.ctypes.data, measure)
    else:
        plan_many = getattr(lib, p + "plan_many_dft")
        ip = ctypes.POINTER(ctypes.c_int)
        plan_many.restype = void
        plan_many.argtypes = [i, ip, i, void, ip, i, i, void, ip, i, i, i, ctypes.c_uint]
        axis = AXIS[function]
        length = shape[axis]
        stride = int(np.prod(shape[axis + 1:])) if axis != -1 else 1
        howmany = int(np.prod(shape)) // length
        distance = length if axis == -1 else 1
        x = y = aligned(shape, cplx)
        n = (ctypes.c_int * 1)(length)
        plan = plan_many(1, n, howmany, x.ctypes.data, None, stride, distance, x.ctypes.data, None, stride, distance,
                         +1, measure)
    x[...] = 1.0
    arrays = (x, y)  # the plan's arrays live as long as the call
    return lambda: execute(plan) if arrays else None


def serve_raw(name, threads, same_plan):
    """Child side: plans once, then times a batch of raw calls per line read."""
    kind, function, shape, dtype = CASES[name]
    call = raw_fftw_call(kind, function, shape, dtype, threads, same_plan)
    for _ in sys.stdin:
        print(median_ms(call, budget_s=ROUND_S), flush=True)


# --- the plug-in and the references (parent process) ---------------------------------------------

def set_threads(n):
    ctypes.CDLL("libgomp.so.1").omp_set_num_threads(n)


def settle(call, tight_calls=150, limit_s=120.0):
    """A tight loop long enough for the plan policy to measure in the call
    (it does after about 40 cheap calls, 100 threaded ones), then calls with
    short idle gaps until five in a row are no faster than the best so far."""
    start = time.perf_counter()
    for _ in range(tight_calls):
        call()
        if time.perf_counter() - start > limit_s / 2:
            break
    best, stable = float("inf"), 0
    while time.perf_counter() - start < limit_s:
        began = time.perf_counter()
        call()
        took = time.perf_counter() - began
        time.sleep(0.05)
        if took < 0.95 * best:
            best, stable = took, 0
        else:
            stable += 1
            if stable >= 5:
                return True
    return False


def run_case(host, name, threads):
    kind, function, shape, dtype = CASES[name]
    rng = np.random.default_rng(1)
    pixels = rng.standard_normal(shape).astype(dtype)
    if np.iscomplexobj(pixels):
        pixels = pixels + 1j * rng.standard_normal(shape).astype(pixels.real.dtype)
    row = {"case": name, "threads": threads, "fftw": None, "fresh": None, "scipy": None, "other": None,
           "other_name": ""}
    source = host.image(pixels)
    if kind == "r2c":
        destination = host.image(np.zeros((shape[0], shape[1] // 2 + 1), np.result_type(dtype, np.complex64)))
        call = lambda: host.call(function, source, 1.0, destination)
        row["scipy"] = median_ms(lambda: scipy.fft.rfft2(pixels, workers=threads))
    elif kind == "full":
        destination = host.image(np.zeros(shape, np.result_type(dtype, np.complex64)))
        call = lambda: host.call(function, source, 1.0, destination)
        row["scipy"] = median_ms(lambda: scipy.fft.fftshift(scipy.fft.fft2(pixels, workers=threads)))
        centred = "ZEPFFT" if "ZEPFFT" in host.function_names() else "ZEPPureFFT"
        copy = host.image(pixels.astype(np.result_type(dtype, np.complex64)))
        settle(lambda: host.call(centred, copy, 1.0, copy))
        row["other"], row["other_name"] = median_ms(lambda: host.call(centred, copy, 1.0, copy)), centred
    elif kind == "axis":
        call = lambda: host.call(function, source, 1.0, source)
        row["scipy"] = median_ms(
            lambda: scipy.fft.ifft(pixels, axis=AXIS[function], workers=threads, overwrite_x=True))
    else:
        call = lambda: host.call(function, source, source)
        target = np.ones_like(pixels)
        memmove = lambda: ctypes.memmove(target.ctypes.data, pixels.ctypes.data, pixels.nbytes)
        row["other"], row["other_name"] = median_ms(memmove), "memcpy"
    row["settled"] = settle(call) if kind != "convert" else True
    if kind == "convert":
        row["zep"] = median_ms(call)
        return row
    # The plug-in and raw FFTW (same plan, fresh plan) take turns, so that a
    # slow spell of the machine falls on all: each side's figure is the best
    # of its rounds' medians.
    children = [subprocess.Popen([sys.executable, __file__, "--raw", name, str(threads), plan],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                for plan in ("same", "fresh")]
    zep, raw = [], [[], []]
    for _ in range(ROUNDS):
        zep.append(median_ms(call, budget_s=ROUND_S))
        for child, times in zip(children, raw):
            child.stdin.write("\n")
            child.stdin.flush()
            times.append(float(child.stdout.readline()))
    for child in children:
        child.stdin.close()
        child.wait()
    row["zep"], row["fftw"], row["fresh"] = min(zep), min(raw[0]), min(raw[1])
    return row


def ratio(a, b):
    return f"{a / b:6.2f}" if a and b else "     -"


def main(argv):
    if argv[:1] == ["--raw"]:
        serve_raw(argv[1], int(argv[2]), argv[3] == "same")
        return
    import lumadex

    names = argv or list(CASES)
    print("ms, medians of steady calls. Targets: HalfPureFFT zep/fftw <= 1.10 and zep/scipy < 1; RealFFT")
    print("zep/scipy(fftshift(fft2)) < 1 and zep/other(ZEPFFT of the complex copy) <= 1; PureFFTX/Y/Z")
    print("zep/fftw <= 1.10 and zep/scipy < 1; conversions (in place, Complex 8) zep/memcpy <= 2.")
    print(f"{'case':18} thr {'zep':>8} {'fftw':>8} {'fresh':>8} {'scipy':>8} {'other':>8}  zep/fftw zep/fresh "
          f"zep/scipy zep/other settled")
    with lumadex.Host() as host:
        for threads in (1, 2):
            set_threads(threads)
            for name in names:
                r = run_case(host, name, threads)
                fmt = lambda v: f"{v:8.2f}" if v else "       -"
                print(f"{r['case']:18} {threads:3} {fmt(r['zep'])} {fmt(r['fftw'])} {fmt(r['fresh'])} "
                      f"{fmt(r['scipy'])} {fmt(r['other'])}  {ratio(r['zep'], r['fftw'])}    "
                      f"{ratio(r['zep'], r['fresh'])}    {ratio(r['zep'], r['scipy'])}    "
                      f"{ratio(r['zep'], r['other'])} {r['other_name'] or ''} {'' if r['settled'] else 'NOT SETTLED'}",
                      flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
