"""The `ostrel records` and `ostrel report` commands: record sets shown as
lines of text, written as JSON, exported to plain files, or written as one
HTML page.

The records answer is taken as bytes and read one record set at a time
(ostrel.records.sets): a summary parses neither products nor projects, and
the JSON is written a set at a time."""

import argparse
import os
import sys
from typing import Any, Dict, Iterable, Iterator, List, Optional

from ostrel.cli.calls import ERR_MALFORMED, Api, Client
from ostrel.cli.errors import PROG, CliError
from ostrel.terminal import one_line, shown
from ostrel.cli.files import write_file

METHOD = "pullDataRecords"


def describe_record_set(api: Api, record: Any, kinds: Dict[str, int]) -> str:
    """One line on a record set; `kinds` counts its products by kind."""
    from ostrel.catalog import interruption
    from ostrel.records.texts import utc_time

    failed = sum(1 for e in record.events if e.status and e.status[-1].code == api.common.FAILURE)
    seconds = (record.stop_timestamp_ns - record.start_timestamp_ns) / 1e9
    return "%s  %s  %.3f s  %d events (%d failed)%s  products: %s" % (
        utc_time(record.start_timestamp_ns), shown(record.description or "(no description)"), seconds,
        len(record.events), failed, "  INTERRUPTED" if interruption(record) is not None else "",
        ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())) or "none")


def _request(args: argparse.Namespace, client: Client) -> Any:
    return client.api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)


def _pull(args: argparse.Namespace, client: Client) -> bytes:
    """The answer as its bytes, to be read one record set at a time."""
    return bytes(client.call_raw(METHOD, _request(args, client)))


def _lazy_sets(answer: bytes, with_project: bool) -> Iterator[Any]:
    """The record sets of the answer, read one at a time (ostrel.records.sets);
    CliError when the answer does not parse."""
    from google.protobuf.message import DecodeError

    from ostrel.records.sets import record_sets
    from ostrel.wire import WireError

    try:
        yield from record_sets(answer, with_project)
    except (WireError, DecodeError) as error:
        raise CliError(ERR_MALFORMED % (METHOD, error)) from None


def product_kinds(record: Any) -> Dict[str, int]:
    """The products of a parsed record set counted by kind."""
    kinds: Dict[str, int] = {}
    for product in record.products:
        kind = product.WhichOneof("type") or "none"
        kinds[kind] = kinds.get(kind, 0) + 1
    return kinds


def summary_lines(api: Api, answer: bytes) -> List[str]:
    """One line per record set, read without its products or project."""
    return [describe_record_set(api, lazy.header, lazy.kind_counts()) for lazy in _lazy_sets(answer, False)]


def stream_records_json(record_sets: Iterable[Any], writers: List[Any]) -> int:
    """Gives every record set to each RecordsJson writer, then closes them;
    the number of sets."""
    count = 0
    for record in record_sets:
        for writer in writers:
            writer.add(record)
        count += 1
    for writer in writers:
        writer.close()
    return count


def write_records_json(path: str, record_sets: Iterable[Any], also: Iterable[Any] = ()) -> int:
    """The record sets as the JSON of their DataRecords, written to `path` in
    full or not at all (and to the writers `also`); the number of sets."""
    from ostrel.protojson import RecordsJson

    count = [0]

    def write(handle: Any) -> None:
        count[0] = stream_records_json(record_sets, [RecordsJson(handle), *also])

    write_file(path, write)
    return count[0]


def cmd_records(args: argparse.Namespace, client: Client) -> int:
    if args.mcap:
        return write_mcap(args, client)
    if args.export:
        return export(args, client)
    if not (args.out or args.json):
        # A summary: read off the wire bytes, neither images nor projects are parsed.
        lines = summary_lines(client.api, _pull(args, client))
        if args.since:
            from ostrel.records.texts import utc_time

            print("record sets started at or after %s (--since %d)" % (utc_time(args.since), args.since))
        print("\n".join(lines) or "no records")
        return 0
    from ostrel.protojson import RecordsJson

    # Parsed once by the runtime, which frees the wire bytes; from here on one
    # record set at a time is turned into text.
    records = client.call(METHOD, _request(args, client)).records
    stdout = [RecordsJson(sys.stdout)] if args.json else []
    if not args.out:
        stream_records_json(records, stdout)
        return 0
    count = write_records_json(args.out, records, stdout)
    if not args.json:
        print("\n".join(describe_record_set(client.api, r, product_kinds(r)) for r in records) or "no records")
        print("%d record sets written to %s" % (count, args.out))
    return 0


def _warn(text: str) -> None:
    print("%s: warning: %s" % (PROG, one_line(text)), file=sys.stderr)


def export(args: argparse.Namespace, client: Client, answer: Optional[bytes] = None) -> int:
    from ostrel.records import export as exporter
    from ostrel.wire import WireError

    from ostrel.cli.files import ERR_WRITE_FAILED

    answer = _pull(args, client) if answer is None else answer
    try:
        summaries = exporter.export(answer, args.export, _warn)
    except OSError as error:
        raise CliError(ERR_WRITE_FAILED % (error.filename or args.export, error.strerror or error)) from None
    except (WireError, exporter.ExportError) as error:
        raise CliError(str(error)) from None
    for summary in summaries:
        print(exporter.summary_line(summary))
    if args.out:  # the JSON file as `ostrel records --out` writes it
        count = write_records_json(args.out, (lazy.whole() for lazy in _lazy_sets(answer, True)))
        print("%d record sets written to %s" % (count, args.out))
    return 0


def check_mcap(args: argparse.Namespace) -> None:
    """CliError naming the extra to install when --mcap is asked for without the MCAP libraries."""
    if args.mcap:
        from ostrel import extras

        try:
            extras.require("mcap.writer", "mcap")
        except ImportError as error:
            raise CliError(str(error)) from None


def write_mcap(args: argparse.Namespace, client: Client) -> int:
    """The MCAP file, then the export or the JSON file when asked for too, from one answer."""
    from ostrel.records import mcap
    from ostrel.wire import WireError

    from ostrel.cli.files import ERR_WRITE_FAILED

    answer = _pull(args, client)
    try:
        written = mcap.write(answer, args.mcap, args.mcap_compression, server=client.target, warn=_warn)
    except OSError as error:
        raise CliError(ERR_WRITE_FAILED % (error.filename or args.mcap, error.strerror or error)) from None
    except WireError as error:
        raise CliError(str(error)) from None
    print(mcap.summary_line(written, args.mcap_compression))
    if args.export:
        return export(args, client, answer)
    if args.out:
        count = write_records_json(args.out, (lazy.whole() for lazy in _lazy_sets(answer, True)))
        print("%d record sets written to %s" % (count, args.out))
    return 0


def check_report(args: argparse.Namespace) -> None:
    """CliError naming the extra to install when matplotlib is missing."""
    from ostrel.records import plots

    try:
        plots.load_plotting()
    except ImportError as error:
        raise CliError(str(error)) from None


def cmd_report(args: argparse.Namespace, client: Client) -> int:
    from ostrel.records import plots, report as reporter
    from ostrel.wire import WireError

    figure_class = plots.load_plotting()
    answer = _pull(args, client)
    title = args.title if args.title is not None else reporter.default_title(args.target)
    try:
        page = reporter.render(answer, title, _warn, figure_class)
    except WireError as error:
        raise CliError(str(error)) from None
    write_file(args.out, lambda handle: handle.write(page))
    print("report of %d bytes written to %s" % (len(page.encode("utf-8")), os.path.abspath(args.out)))
    return 0
