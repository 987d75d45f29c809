"""Discrete Fourier transforms of numpy arrays, with scipy.fft's functions and conventions."""

__all__ = []
