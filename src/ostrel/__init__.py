"""Python bindings of the Ostrel robot work-cell service."""

from ostrel import _moved

_moved.install()
