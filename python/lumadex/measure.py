"""One-pass measurements of numpy arrays: extremes, summaries and 2 x 2 binning."""

__all__ = []
