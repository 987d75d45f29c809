"""Image registration of numpy arrays, with scikit-image's conventions."""

__all__ = []
