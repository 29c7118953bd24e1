"""Readers and writers of recorded data sets."""
