"""Element-wise mathematics as numpy ufuncs, under numpy's names."""

__all__ = []
