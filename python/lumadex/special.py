"""Special functions as numpy ufuncs, under scipy.special's names."""

__all__ = []
