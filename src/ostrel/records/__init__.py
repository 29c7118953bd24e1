"""Readers and writers of recorded data: record sets read one at a time from
the serialized answer (`sets`), what a set holds as events, joint rows and
image files (`set_events`, `joint_rows`, `image_files`, `texts`), the export
to plain files (`export`), the HTML report (`report`), the PNG writer they
share (`png`), the scene of the cell for 3-D viewers (`scene`) and the MCAP
file for robotics viewers (`mcap`, with the extra `ostrel[mcap]`)."""

# The compressions of the MCAP file's chunks, by the names the command line
# takes (kept here, where the command line reads them without loading a writer).
MCAP_COMPRESSIONS = ("zstd", "lz4", "none")
