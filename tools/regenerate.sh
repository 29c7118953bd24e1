#!/usr/bin/env bash
# Rewrites the committed generated files from the schema files, with our schema
# compiler (compiler/protoc_gen_ostrel.cc, a protoc plugin linked to libprotoc):
#
#   schema/ostrel/api/<name>.proto         -> api/generated/<name>_pb2.cc   (module tables)
#                                             src/ostrel/api/<name>_pb2.pyi  (typing stubs)
#                                             docs/api/<name>.md, README.md  (API reference)
#   schema/ostrel/api/ostrel_service.proto -> also api/generated/service_pb2_grpc_table.h
#                                             (the service module's method table) and
#                                             src/ostrel/api/service_pb2_grpc.pyi
#   tests/fixtures/ostrel_fixtures/*.proto -> tests/fixtures/generated/     (test-only modules)
#
# Usage: bash tools/regenerate.sh [--check]
#   --check  regenerates into a temporary directory and fails, listing what
#            differs, when the committed files are not exactly what the schema
#            files give (edited, missing, or left over from a removed schema).
# Needs cmake, a C++ compiler, protoc and the libprotoc headers and library
# (Debian: protobuf-compiler libprotoc-dev). PROTOC picks another protoc;
# OSTREL_PLUGIN uses an already built plugin instead of building one.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
CHECK=0
case "${1:-}" in
  --check) CHECK=1 ;;
  "") ;;
  *) echo "usage: bash tools/regenerate.sh [--check]" >&2; exit 2 ;;
esac

PROTOC=${PROTOC:-protoc}
command -v "$PROTOC" >/dev/null || { echo "regenerate: '$PROTOC' not found (Debian: apt-get install protobuf-compiler libprotoc-dev)" >&2; exit 2; }

PLUGIN=${OSTREL_PLUGIN:-}
if [ -z "$PLUGIN" ]; then
  BUILD="$ROOT/build/compiler"
  cmake -S "$ROOT/compiler" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" >/dev/null
  PLUGIN="$BUILD/protoc-gen-ostrel"
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Destination of each plugin output, by the output's directory; the C++
# tables of the package go next to the C++ sources, anything else the plugin
# writes for the package (stubs) into the Python package.
destination() {  # <output path relative to the plugin's out dir>
  local rel=$1 dir=${1%/*} leaf=${1##*/}
  case "$dir:$leaf" in
    ostrel/api:*.cc|ostrel/api:*.h) echo "api/generated/$leaf" ;;
    ostrel/api:*) echo "src/ostrel/api/$leaf" ;;
    docs/api:*.md) echo "docs/api/$leaf" ;;
    ostrel_fixtures:*) echo "tests/fixtures/generated/$leaf" ;;
    *) echo "regenerate: the plugin wrote $rel, which has no place in the tree" >&2; return 1 ;;
  esac
}

# The first line of every generated file, in the comment syntax of its type.
header() {  # <file name>
  local text="Generated from the schema files by tools/regenerate.sh. Do not edit."
  case "$1" in
    *.cc|*.h) echo "// $text" ;;
    *.py|*.pyi) echo "# $text" ;;
    *.md) echo "<!-- $text -->" ;;
    *) echo "regenerate: no comment syntax known for $1" >&2; return 1 ;;
  esac
}

run_plugin() {  # <out dir> <include dir>... -- <proto>...
  local out=$1; shift
  mkdir -p "$out"
  "$PROTOC" "--plugin=protoc-gen-ostrel=$PLUGIN" "--ostrel_out=$out" "$@"
}

cd "$ROOT"
run_plugin "$WORK/out" --ostrel_opt=reference -I schema schema/ostrel/api/*.proto
run_plugin "$WORK/out" -I tests/fixtures -I schema tests/fixtures/ostrel_fixtures/*.proto

# Lay the outputs out as the tree holds them, each behind its header line.
TREE="$WORK/tree"
(cd "$WORK/out" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$WORK/outputs"
while read -r rel; do
  dest=$(destination "$rel")
  mkdir -p "$TREE/$(dirname "$dest")"
  { header "$dest"; cat "$WORK/out/$rel"; } > "$TREE/$dest"
done < "$WORK/outputs"

# The generated files the tree holds now: everything in the generated
# directories, and in the Python package whatever starts with a header line.
committed() {
  find api/generated tests/fixtures/generated docs/api -type f 2>/dev/null || true
  local f
  for f in src/ostrel/api/*; do
    [ -f "$f" ] && [ "$(head -n 1 "$f")" = "$(header "$f" 2>/dev/null)" ] && echo "$f"
  done
  return 0
}
committed | LC_ALL=C sort > "$WORK/committed"
(cd "$TREE" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$WORK/fresh"

if [ "$CHECK" = 1 ]; then
  status=0
  while read -r f; do
    if [ ! -e "$f" ]; then
      echo "missing:   $f (run bash tools/regenerate.sh)"; status=1
    elif ! cmp -s "$TREE/$f" "$f"; then
      changed=$(diff "$f" "$TREE/$f" | grep -c '^[<>]' || true)
      echo "differs:   $f ($changed lines; edited by hand, or the schema or compiler changed)"
      { diff -u "$f" "$TREE/$f" || true; } | sed -n '3,14p' | sed 's/^/    /'
      status=1
    fi
  done < "$WORK/fresh"
  while read -r f; do
    echo "no schema: $f (generated, but no schema file gives it)"; status=1
  done < <(LC_ALL=C comm -23 "$WORK/committed" "$WORK/fresh")
  if [ "$status" = 0 ]; then
    echo "regenerate: $(wc -l < "$WORK/fresh") generated files match the schema files"
  fi
  exit "$status"
fi

while read -r f; do rm -f "$f"; done < <(LC_ALL=C comm -23 "$WORK/committed" "$WORK/fresh")
while read -r f; do
  mkdir -p "$(dirname "$f")"
  cmp -s "$TREE/$f" "$f" 2>/dev/null || cp "$TREE/$f" "$f"
done < "$WORK/fresh"
echo "regenerate: wrote $(wc -l < "$WORK/fresh") generated files"
