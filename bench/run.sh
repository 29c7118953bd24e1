#!/usr/bin/env bash
# Every figure of bench/README.md, in one run:
#
#   bash bench/run.sh
#
# Creates (or reuses) a venv, installs the runtime and the tools, builds and
# installs this package into it, generates the protoc/grpcio-tools peer and the
# floor into a scratch folder, runs the benchmarks and prints the table.
#
#   BENCH_VENV   venv to create or reuse        (default: build/bench-venv)
#   BENCH_OUT    folder for results and scratch (default: a new /tmp folder)
#   PYTHON       CPython 3.9 that makes the venv (default: pyenv's newest 3.9,
#                else python3.9 on PATH)
#   ROUNDS       cold-import rounds, one process per benchmark each (default: 25)
#   BEFORE       a git revision of this repository: also build it (scratch
#                folder) and add it as the column `before` to the cold-import
#                and memory rows, for the figures of a change
#
#   bash bench/run.sh bigdata
#
# runs only the big-data benchmark (bench/bigdata.py: ~100 MB push, pull and
# records through the reference server against a minimal gRPC server) in the
# same venv and prints its table; with BEFORE=<revision>, that revision's
# server (its Python, on the modules installed now) runs as a third variant.
#
#   BIG_ROUNDS   interleaved rounds of the big-data benchmark (default: 3)
set -euo pipefail

MODE=${1:-all}
case "$MODE" in
  all|bigdata) ;;
  *) echo "usage: bash bench/run.sh [bigdata]" >&2; exit 2 ;;
esac

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VENV=${BENCH_VENV:-$ROOT/build/bench-venv}
OUT=${BENCH_OUT:-$(mktemp -d /tmp/ostrel-bench.XXXXXX)}
ROUNDS=${ROUNDS:-25}
if [ -z "${PYTHON:-}" ]; then
  for candidate in \
      $(ls -d "$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"/versions/3.9.*/bin/python3.9 2>/dev/null | sort -V -r) \
      python3.9; do
    if "$candidate" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 9))' 2>/dev/null; then
      PYTHON=$candidate
      break
    fi
  done
  [ -n "${PYTHON:-}" ] || { echo "no CPython 3.9 found; set PYTHON" >&2; exit 1; }
fi
mkdir -p "$OUT"

if [ ! -x "$VENV/bin/python" ]; then
  "$PYTHON" -m venv "$VENV"
fi
PY="$VENV/bin/python"
echo "== venv $VENV" >&2
"$PY" -m pip install -q -U pip
"$PY" -m pip install -q "protobuf==6.33.6" grpcio grpcio-tools grpcio-reflection grpcio-health-checking \
  pyperf scikit-build-core
command -v cmake >/dev/null && command -v ninja >/dev/null || "$PY" -m pip install -q cmake ninja
echo "== building and installing ostrel" >&2
"$PY" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -C build-dir="$ROOT/build/bench" "$ROOT"

# Run from the output folder, so that the repository's src/ never shadows the
# installed package.
cd "$OUT"
if [ "$MODE" = bigdata ]; then
  echo "== big data" >&2
  cut -d' ' -f1-3 /proc/loadavg > "$OUT/loadavg.start"
  BIG_EXTRA=()
  if [ -n "${BEFORE:-}" ]; then
    # The server is Python: that revision's src/ostrel on the installed modules.
    rm -rf "$OUT/before-server"
    mkdir -p "$OUT/before-server"
    git -C "$ROOT" archive "$BEFORE" src/ostrel | tar -x -C "$OUT/before-server"
    rm -rf "$OUT/before-server/src/ostrel/api"
    ln -s "$("$PY" -c 'import os, ostrel.api as a; print(os.path.dirname(a.__file__))')" \
      "$OUT/before-server/src/ostrel/api"
    BIG_EXTRA=(--before "$OUT/before-server/src")
  fi
  "$PY" "$ROOT/bench/bigdata.py" --work "$OUT/bigdata" --rounds "${BIG_ROUNDS:-3}" \
    ${BIG_EXTRA[@]+"${BIG_EXTRA[@]}"} -o "$OUT/bigdata.json" | tee "$OUT/bigdata.md"
  echo "Load average before / after: $(cat "$OUT/loadavg.start") / $(cut -d' ' -f1-3 /proc/loadavg)" \
    | tee -a "$OUT/bigdata.md"
  echo "results: $OUT/bigdata.json (table again: python bench/bigdata.py --report $OUT/bigdata.json)" >&2
  exit 0
fi
echo "== peer and floor into $OUT/scratch" >&2
"$PY" "$ROOT/bench/prepare.py" "$OUT/scratch" "$ROOT/schema"
"$PY" "$ROOT/bench/prepare.py" --verify "$OUT/scratch"

EXTRA=()
if [ -n "${BEFORE:-}" ]; then
  echo "== building $BEFORE for comparison" >&2
  rm -rf "$OUT/before-src" "$OUT/before-build" "$OUT/before"
  mkdir -p "$OUT/before-src"
  git -C "$ROOT" archive "$BEFORE" | tar -x -C "$OUT/before-src"
  PATH="$VENV/bin:$PATH" cmake -S "$OUT/before-src" -B "$OUT/before-build" \
    -DPython_EXECUTABLE="$PY" -DCMAKE_BUILD_TYPE=Release -DOSTREL_FIXTURES=OFF >/dev/null
  PATH="$VENV/bin:$PATH" cmake --build "$OUT/before-build" >/dev/null
  PATH="$VENV/bin:$PATH" cmake --install "$OUT/before-build" --strip --prefix "$OUT/before" >/dev/null
  cp "$OUT/before-src/src/ostrel/__init__.py" "$OUT/before/ostrel/"
  cp "$OUT/before-src/src/ostrel/api/__init__.py" "$OUT/before/ostrel/api/"
  git -C "$ROOT" rev-parse --short "$BEFORE" > "$OUT/before.rev"
  EXTRA=(--extra "before=$OUT/before")
fi

if "$PY" -c "import importlib.util as u, sys; sys.exit(u.find_spec('ostrel.api.service_pb2_grpc') is None)"; then
  API=whole
else
  API=interim
  echo "   the service module is not built: whole-API import is data_pb2 + system_pb2" >&2
fi

cut -d' ' -f1-3 /proc/loadavg > "$OUT/loadavg.start"
echo "== cold import ($API)" >&2
"$PY" "$ROOT/bench/cold_import.py" --scratch "$OUT/scratch" --api "$API" \
  --rounds "$ROUNDS" ${EXTRA[@]+"${EXTRA[@]}"} -o "$OUT/cold.json"
if [ "$API" = whole ]; then
  echo "== per call" >&2
  "$PY" "$ROOT/bench/calls.py" --scratch "$OUT/scratch" -o "$OUT/calls.json"
fi
echo "== memory" >&2
"$PY" "$ROOT/bench/memory.py" --scratch "$OUT/scratch" --api "$API" ${EXTRA[@]+"${EXTRA[@]}"} \
  -o "$OUT/memory.json" >/dev/null

cut -d' ' -f1-3 /proc/loadavg > "$OUT/loadavg.end"

echo >&2
"$PY" "$ROOT/bench/report.py" "$OUT" | tee "$OUT/table.md"
echo >&2
echo "results: $OUT (pyperf JSON: python -m pyperf show $OUT/cold.json)" >&2
