"""Shifts, zooms, affine transforms and rotations of numpy arrays, with scipy.ndimage's conventions."""

__all__ = []
