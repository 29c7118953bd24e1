"""Readers and writers of recorded data: record sets read one at a time from
the serialized answer (`sets`), what a set holds as events, joint rows and
images (`view`), the export to plain files (`export`), the HTML report
(`report`) and the PNG writer they share (`png`)."""
