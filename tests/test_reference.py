"""The API reference in docs/api/ against the modules: each message has a
section whose table lists every field (number, name, type, label) with a
comment, each enum every value with a comment, and every link leads to a page
and heading that exist. Besides, every element of the schema files carries a
comment of its own."""

import glob
import importlib
import os
import re
import shutil
import subprocess

import pytest
from google.protobuf.descriptor import FieldDescriptor
from google.protobuf import descriptor_pb2

from test_typing import is_repeated

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REFERENCE = os.path.join(ROOT, "docs", "api")
SCHEMA = os.path.join(ROOT, "schema")
SCHEMA_FILES = sorted(os.path.relpath(p, SCHEMA).replace(os.sep, "/")
                      for p in glob.glob(os.path.join(SCHEMA, "ostrel", "api", "*.proto")))
SCALARS = {getattr(FieldDescriptor, "TYPE_" + name.upper()): name for name in (
    "double", "float", "int64", "uint64", "int32", "fixed64", "fixed32", "bool", "string",
    "bytes", "uint32", "sfixed32", "sfixed64", "sint32", "sint64")}
LINK = re.compile(r"\[([^\]]+)\]\(([^)\s]+)\)")
WELL_KNOWN = "https://protobuf.dev/reference/protobuf/google.protobuf/#"


def page_name(schema_file):
    return os.path.basename(schema_file)[: -len(".proto")] + ".md"


def cells(line):
    return [c.strip() for c in re.split(r"(?<!\\)\|", line)[1:-1]]


def read_page(name):
    """{heading of each ### section: (its prose, its table rows as cells)}."""
    sections, heading = {}, None
    with open(os.path.join(REFERENCE, name)) as f:
        for line in f.read().splitlines():
            if line.startswith("#"):
                heading = line[4:] if line.startswith("### ") else None
                if heading is not None:
                    sections[heading] = ([], [])
            elif heading is not None and line.startswith("| ") and not line.startswith(
                    ("| No. |", "| Value |", "| Method |")):
                sections[heading][1].append(cells(line))
            elif heading is not None and line and not line.startswith("|---"):
                sections[heading][0].append(line)
    return sections


def anchor(heading):
    return heading.lower().replace(".", "")


def resolve(target, page):
    """(page, anchor) of a link from `page`, or None when it leaves the reference."""
    if target.startswith(WELL_KNOWN) or "://" in target:
        return None
    name, _, fragment = target.partition("#")
    return name or page, fragment


def expected_label(field):
    if field.message_type is not None and field.message_type.GetOptions().map_entry:
        return "map"
    if is_repeated(field):
        return "repeated"
    return f"oneof `{field.containing_oneof.name}`" if field.containing_oneof else "singular"


def links_to(cell, descriptor, page):
    """Whether the type cell links to the section of `descriptor`."""
    if descriptor.file.name.startswith("google/protobuf/"):
        return WELL_KNOWN + descriptor.name.lower() in cell
    want = (page_name(descriptor.file.name), anchor(descriptor.full_name[len(descriptor.file.package) + 1:]))
    return want in [resolve(target, page) for _, target in LINK.findall(cell)]


def type_matches(cell, field, page):
    if expected_label(field) == "map":
        entry = field.message_type
        key, value = entry.fields_by_name["key"], entry.fields_by_name["value"]
        return (cell.startswith(f"map&lt;{SCALARS[key.type]}, ")
                and type_matches(cell[len(f"map&lt;{SCALARS[key.type]}, "):-len("&gt;")], value, page))
    typed = field.message_type or field.enum_type
    return links_to(cell, typed, page) if typed is not None else cell == SCALARS[field.type]


def messages(container):
    for message in container.message_types_by_name.values() if hasattr(
            container, "message_types_by_name") else container.nested_types:
        if not message.GetOptions().map_entry:
            yield message
            yield from messages(message)


def module_file(schema_file):
    stem = schema_file[len("ostrel/api/"): -len(".proto")]
    return importlib.import_module(f"ostrel.api.{stem}_pb2").DESCRIPTOR


@pytest.mark.parametrize("schema_file", SCHEMA_FILES)
def test_every_field_and_value_has_a_row_with_a_comment(schema_file):
    file = module_file(schema_file)
    page = page_name(schema_file)
    sections = read_page(page)
    problems = []
    for message in messages(file):
        heading = message.full_name[len(file.package) + 1:]
        prose, rows = sections.get(heading, ([], []))
        if not prose:
            problems.append(f"{heading}: no section or no description")
        by_number = {int(row[0]): row for row in rows}
        for field in message.fields:
            row = by_number.pop(field.number, None)
            if row is None or row[1] != f"`{field.name}`":
                problems.append(f"{heading}.{field.name}: no row {field.number}")
            elif not row[4]:
                problems.append(f"{heading}.{field.name}: no comment")
            elif not type_matches(row[2], field, page) or row[3] != expected_label(field):
                problems.append(f"{heading}.{field.name}: shown as {row[2]} {row[3]}")
        problems += [f"{heading}: row {n} is no field" for n in by_number]
    for enum in file.enum_types_by_name.values():
        prose, rows = sections.get(enum.name, ([], []))
        shown = {(int(r[0]), r[1]) for r in rows if r[2]}
        missing = {(v.number, f"`{v.name}`") for v in enum.values} ^ shown
        if not prose or missing:
            problems.append(f"{enum.name}: description {bool(prose)}, values differing {sorted(missing)}")
    for service in file.services_by_name.values():
        prose, rows = sections.get(service.name, ([], []))
        shown = {r[0] for r in rows if r[3]}
        if not prose or shown != {f"`{m.name}`" for m in service.methods}:
            problems.append(f"{service.name}: methods shown with a comment {sorted(shown)}")
    assert problems == []


def test_one_page_per_schema_file_and_an_index():
    pages = sorted(os.path.basename(p) for p in glob.glob(os.path.join(REFERENCE, "*.md")))
    assert pages == sorted([page_name(f) for f in SCHEMA_FILES] + ["README.md"])
    index = read_index_links()
    assert {page_name(f) for f in SCHEMA_FILES} <= {page for page, _ in index}


def read_index_links():
    with open(os.path.join(REFERENCE, "README.md")) as f:
        return {resolve(target, "README.md") for _, target in LINK.findall(f.read())} - {None}


def test_every_link_leads_to_a_heading():
    headings = {os.path.basename(p): {anchor(h) for h in read_page(os.path.basename(p))}
                for p in glob.glob(os.path.join(REFERENCE, "*.md"))}
    broken = []
    for page in headings:
        with open(os.path.join(REFERENCE, page)) as f:
            for text, target in LINK.findall(f.read()):
                where = resolve(target, page)
                if where and (where[0] not in headings or (where[1] and where[1] not in headings[where[0]])):
                    broken.append(f"{page}: [{text}]({target})")
    assert broken == []


# The commented parts of a message in a FileDescriptorProto's source info:
# (field number of the list in DescriptorProto, the list).
MESSAGE_PARTS = [(2, "field"), (8, "oneof_decl")]


@pytest.mark.skipif(not shutil.which("protoc"), reason="needs protoc")
def test_every_schema_element_has_a_comment(tmp_path):
    out = tmp_path / "schema.pb"
    subprocess.run(["protoc", "-I", SCHEMA, "--include_source_info", f"--descriptor_set_out={out}",
                    *SCHEMA_FILES], check=True)
    uncommented = []
    for file in descriptor_pb2.FileDescriptorSet.FromString(out.read_bytes()).file:
        comments = {tuple(loc.path): loc.leading_comments.strip() or loc.trailing_comments.strip()
                    for loc in file.source_code_info.location}

        def check(path, name):
            if not comments.get(tuple(path)):
                uncommented.append(f"{file.name}: {name}")

        check([12], "file")
        for i, message in enumerate(file.message_type):
            check([4, i], message.name)
            for number, attr in MESSAGE_PARTS:
                for k, part in enumerate(getattr(message, attr)):
                    check([4, i, number, k], f"{message.name}.{part.name}")
        for i, enum in enumerate(file.enum_type):
            check([5, i], enum.name)
            for k, value in enumerate(enum.value):
                check([5, i, 2, k], f"{enum.name}.{value.name}")
        for i, service in enumerate(file.service):
            check([6, i], service.name)
            for k, method in enumerate(service.method):
                check([6, i, 2, k], f"{service.name}.{method.name}")
    assert uncommented == []
