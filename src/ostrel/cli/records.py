"""The `ostrel records --export DIR` and `ostrel report` commands: pull the
selected record sets unparsed and hand them to the export or the report."""

import argparse
import os
import sys
from typing import Any

from ostrel.cli.commands import PROG, CliError, one_line, write_file

ERR_WRITE = "cannot write %s: %s"


def _warn(text: str) -> None:
    print("%s: warning: %s" % (PROG, one_line(text)), file=sys.stderr)


def _write(path: str, text: str) -> None:
    """The file in full, or the earlier one left as it was."""
    write_file(path, lambda handle: handle.write(text))


def _pull(args: argparse.Namespace, client: Any) -> bytes:
    request = client.api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    return bytes(client.call_raw("pullDataRecords", request))


def export(args: argparse.Namespace, client: Any) -> int:
    from ostrel.records import export as exporter
    from ostrel.wire import WireError

    answer = _pull(args, client)
    try:
        summaries = exporter.export(answer, args.export, _warn)
    except OSError as error:
        raise CliError(ERR_WRITE % (error.filename or args.export, error.strerror or error))
    except (WireError, exporter.ExportError) as error:
        raise CliError(str(error))
    for summary in summaries:
        print(exporter.summary_line(summary))
    if args.out:  # the JSON file as `ostrel records --out` writes it
        from google.protobuf import json_format

        from ostrel.api import data_pb2

        text = json_format.MessageToJson(data_pb2.DataRecords.FromString(answer), preserving_proto_field_name=True,
                                         indent=2)
        _write(args.out, text + "\n")
        print("%d record sets written to %s" % (len(summaries), args.out))
    return 0


def check_report() -> None:
    """CliError naming the extra to install when matplotlib is missing."""
    from ostrel.records import report as reporter

    try:
        reporter.load_plotting()
    except ImportError:
        raise CliError(reporter.MISSING_PLOTTING) from None


def report(args: argparse.Namespace, client: Any) -> int:
    from ostrel.records import report as reporter
    from ostrel.wire import WireError

    figure_class = reporter.load_plotting()
    answer = _pull(args, client)
    title = "Ostrel records from %s" % args.target
    try:
        page = reporter.render(answer, title, _warn, figure_class)
    except WireError as error:
        raise CliError(str(error))
    _write(args.out, page)
    print("report of %d bytes written to %s" % (len(page.encode("utf-8")), os.path.abspath(args.out)))
    return 0
