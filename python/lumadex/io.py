"""Reading and writing the host's DM3 / DM4 image files as numpy arrays with calibrated axes."""

__all__ = []
