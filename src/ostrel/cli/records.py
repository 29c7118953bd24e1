"""The `ostrel records` and `ostrel report` commands: record sets shown as
lines of text, written as JSON, exported to plain files, or written as one
HTML page."""

import argparse
import os
import sys
from typing import Any, Dict, List, Optional, Sequence

from ostrel import wire
from ostrel.cli.client import ERR_MALFORMED, Api, Client
from ostrel.cli.errors import PROG, CliError
from ostrel.cli.files import write_file
from ostrel.cli.output import RecordsJson, ns_time

ERR_WRITE = "cannot write %s: %s"


def product_kinds(api: Api, products: Any) -> Dict[str, int]:
    kinds: Dict[str, int] = {}
    for product in products:
        kind = product.WhichOneof("type") or "none"
        kinds[kind] = kinds.get(kind, 0) + 1
    return kinds


def describe_record_set(api: Api, record: Any, kinds: Optional[Dict[str, int]] = None) -> str:
    """One line on a record set; `kinds` counts its products by kind when
    `record` was read without them."""
    if kinds is None:
        kinds = product_kinds(api, record.products)
    failed = sum(1 for e in record.events if e.status and e.status[-1].code == api.common.FAILURE)
    seconds = (record.stop_timestamp_ns - record.start_timestamp_ns) / 1e9
    return "%s  %s  %.3f s  %d events (%d failed)  products: %s" % (
        ns_time(record.start_timestamp_ns), record.description or "(no description)", seconds,
        len(record.events), failed, ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())) or "none")


def describe_encoded_record_set(api: Api, encoded: memoryview) -> str:
    """describe_record_set of a serialized record set, parsing its events but
    neither its products (only their kind is read) nor its project."""
    products = api.data.RecordSet.DESCRIPTOR.fields_by_name["products"].number
    project = api.data.RecordSet.DESCRIPTOR.fields_by_name["project"].number
    kind_of = {f.number: f.name for f in api.data.ProductRecord.DESCRIPTOR.oneofs_by_name["type"].fields}
    kept: List[memoryview] = []
    kinds: Dict[str, int] = {}
    for field in wire.fields(encoded):
        if field.number == products and field.wire == 2:
            kind = "none"  # the last member given is the one set, as when parsed
            for member in wire.fields(encoded, field.value, field.end):
                kind = kind_of.get(member.number, kind)
            kinds[kind] = kinds.get(kind, 0) + 1
        elif field.number != project:
            kept.append(encoded[field.start:field.end])
    return describe_record_set(api, api.data.RecordSet.FromString(b"".join(kept)), kinds)


def cmd_records(args: argparse.Namespace, client: Client) -> int:
    if args.export:
        return export(args, client)
    api = client.api
    method = "pullDataRecords"
    request = api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    if not (args.out or args.json):
        # A summary: read off the wire bytes, the images are never parsed.
        answer = memoryview(client.call_raw(method, request))
        try:
            lines = [describe_encoded_record_set(api, encoded) for encoded in wire.field_spans(answer, 1)]
        except Exception as error:  # ValueError from the scan, DecodeError from the runtime
            raise CliError(ERR_MALFORMED % (method, error)) from None
        print("\n".join(lines) or "no records")
        return 0
    # Parsed once by the runtime, which frees the wire bytes; from here on one
    # record set at a time is turned into text.
    records = client.call(method, request).records
    if args.out:
        write_file(args.out, lambda handle: _show_records(args, api, records, RecordsJson(handle)))
        if not args.json:
            print("%d record sets written to %s" % (len(records), args.out))
    else:
        _show_records(args, api, records, None)
    return 0


def _show_records(args: argparse.Namespace, api: Api, records: Sequence[Any], out: Optional[RecordsJson]) -> None:
    """Shows and writes one record set at a time."""
    writers = [out] if out is not None else []
    if args.json:
        writers.append(RecordsJson(sys.stdout))
    for record in records:
        if not args.json:
            print(describe_record_set(api, record))
        for writer in writers:
            writer.add(record)
    if not records and not args.json:
        print("no records")
    for writer in writers:
        writer.close()


def _warn(text: str) -> None:
    print("%s: warning: %s" % (PROG, text), file=sys.stderr)


def _write(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text)
    except OSError as error:
        raise CliError(ERR_WRITE % (path, error.strerror or error)) from None


def _pull(args: argparse.Namespace, client: Client) -> bytes:
    request = client.api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    return bytes(client.call_raw("pullDataRecords", request))


def export(args: argparse.Namespace, client: Client) -> int:
    from ostrel.records import export as exporter
    from ostrel.wire import WireError

    answer = _pull(args, client)
    try:
        summaries = exporter.export(answer, args.export, _warn)
    except OSError as error:
        raise CliError(ERR_WRITE % (error.filename or args.export, error.strerror or error))
    except WireError as error:
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


def cmd_report(args: argparse.Namespace, client: Client) -> int:
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
