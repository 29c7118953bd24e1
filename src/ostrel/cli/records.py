"""The `ostrel records` and `ostrel report` commands: record sets shown as
lines of text, written as JSON, exported to plain files, or written as one
HTML page.

The records answer is taken as bytes and read one record set at a time
(ostrel.records.sets): a summary parses neither products nor projects, and
the JSON is written a set at a time."""

import argparse
import os
import sys
from typing import Any, Callable, Dict, Iterable, List

from ostrel.cli.client import ERR_MALFORMED, Api, Client
from ostrel.cli.errors import PROG, CliError, one_line, shown
from ostrel.cli.files import write_file
from ostrel.cli.output import ns_time

METHOD = "pullDataRecords"


def describe_record_set(api: Api, record: Any, kinds: Dict[str, int]) -> str:
    """One line on a record set; `kinds` counts its products by kind."""
    from ostrel.catalog import interruption

    failed = sum(1 for e in record.events if e.status and e.status[-1].code == api.common.FAILURE)
    seconds = (record.stop_timestamp_ns - record.start_timestamp_ns) / 1e9
    return "%s  %s  %.3f s  %d events (%d failed)%s  products: %s" % (
        ns_time(record.start_timestamp_ns), shown(record.description or "(no description)"), seconds,
        len(record.events), failed, "  INTERRUPTED" if interruption(record) is not None else "",
        ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())) or "none")


def _pull(args: argparse.Namespace, client: Client) -> bytes:
    request = client.api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    return bytes(client.call_raw(METHOD, request))


def _read_sets(answer: bytes, with_project: bool, each: Callable[[Any], None]) -> None:
    """Calls `each` on every record set of the answer; CliError when the
    answer does not parse."""
    from google.protobuf.message import DecodeError

    from ostrel.records.sets import record_sets
    from ostrel.wire import WireError

    try:
        for lazy in record_sets(answer, with_project):
            each(lazy)
    except (WireError, DecodeError) as error:
        raise CliError(ERR_MALFORMED % (METHOD, error)) from None


def summary_lines(api: Api, answer: bytes) -> List[str]:
    """One line per record set, read without its products or project."""
    lines: List[str] = []
    _read_sets(answer, False, lambda lazy: lines.append(describe_record_set(api, lazy.header, lazy.kind_counts())))
    return lines


def stream_records_json(answer: bytes, writers: List[Any]) -> int:
    """Gives every record set of the answer, parsed one at a time, to each
    RecordsJson writer, then closes them; the number of sets."""
    count = [0]

    def add(lazy: Any) -> None:
        whole = lazy.whole()
        for writer in writers:
            writer.add(whole)
        count[0] += 1

    _read_sets(answer, True, add)
    for writer in writers:
        writer.close()
    return count[0]


def write_records_json(path: str, answer: bytes, also: Iterable[Any] = ()) -> int:
    """The answer as the JSON of its DataRecords, written to `path` in full or
    not at all (and to the writers `also`); the number of record sets."""
    from ostrel.protojson import RecordsJson

    count = [0]

    def write(handle: Any) -> None:
        count[0] = stream_records_json(answer, [RecordsJson(handle), *also])

    write_file(path, write)
    return count[0]


def cmd_records(args: argparse.Namespace, client: Client) -> int:
    if args.export:
        return export(args, client)
    from ostrel.protojson import RecordsJson

    answer = _pull(args, client)
    stdout = [RecordsJson(sys.stdout)] if args.json else []
    if not args.out:
        if stdout:
            stream_records_json(answer, stdout)
        else:
            print("\n".join(summary_lines(client.api, answer)) or "no records")
        return 0
    lines = [] if args.json else summary_lines(client.api, answer)
    count = write_records_json(args.out, answer, stdout)
    if not args.json:
        print("\n".join(lines) or "no records")
        print("%d record sets written to %s" % (count, args.out))
    return 0


def _warn(text: str) -> None:
    print("%s: warning: %s" % (PROG, one_line(text)), file=sys.stderr)


def export(args: argparse.Namespace, client: Client) -> int:
    from ostrel.records import export as exporter
    from ostrel.wire import WireError

    from ostrel.cli.files import ERR_WRITE_FAILED

    answer = _pull(args, client)
    try:
        summaries = exporter.export(answer, args.export, _warn)
    except OSError as error:
        raise CliError(ERR_WRITE_FAILED % (error.filename or args.export, error.strerror or error)) from None
    except (WireError, exporter.ExportError) as error:
        raise CliError(str(error)) from None
    for summary in summaries:
        print(exporter.summary_line(summary))
    if args.out:  # the JSON file as `ostrel records --out` writes it
        count = write_records_json(args.out, answer)
        print("%d record sets written to %s" % (count, args.out))
    return 0


def check_report() -> None:
    """CliError naming the extra to install when matplotlib is missing."""
    from ostrel.records import report as reporter

    try:
        reporter.load_plotting()
    except ImportError:
        raise CliError(reporter.ERR_MISSING_PLOTTING) from None


def cmd_report(args: argparse.Namespace, client: Client) -> int:
    from ostrel.records import report as reporter
    from ostrel.wire import WireError

    figure_class = reporter.load_plotting()
    answer = _pull(args, client)
    title = args.title if args.title is not None else reporter.default_title(args.target)
    try:
        page = reporter.render(answer, title, _warn, figure_class)
    except WireError as error:
        raise CliError(str(error)) from None
    write_file(args.out, lambda handle: handle.write(page))
    print("report of %d bytes written to %s" % (len(page.encode("utf-8")), os.path.abspath(args.out)))
    return 0
