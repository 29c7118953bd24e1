"""Text from elsewhere (a server, a recording, a caller) on a line of the
terminal: control characters escaped, so that it cannot move the cursor,
change colours or end the line, and an error cut to one line of bounded
length."""

# C0 and C1 control characters, which a terminal would act on.
TERMINAL_CONTROL = {code: "\\x%02x" % code for code in (*range(32), *range(127, 160))}
# The same for a line of its own: whitespace that breaks it becomes a space.
_LINE_CONTROL = dict(TERMINAL_CONTROL)
_LINE_CONTROL.update({ord("\t"): " ", ord("\n"): " ", ord("\r"): " "})

MAX_ERROR_CHARS = 400  # an error line longer than this is cut in the middle


def shown(text: str) -> str:
    """`text` with its control characters escaped."""
    return text.translate(TERMINAL_CONTROL)


def quoted(text: str) -> str:
    """`text` quoted, with its control characters escaped."""
    return "'%s'" % shown(text)


def one_line(text: str, limit: int = MAX_ERROR_CHARS) -> str:
    """`text` on one line: control characters escaped, runs of spaces joined,
    and the middle cut out when it is longer than `limit`."""
    text = " ".join(text.translate(_LINE_CONTROL).split())
    if len(text) <= limit:
        return text
    head = limit * 2 // 3
    tail = limit - head - 5
    return text[:head] + " ... " + text[-tail:]
