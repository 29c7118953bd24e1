"""Python bindings of the Ostrel robot work-cell service."""
