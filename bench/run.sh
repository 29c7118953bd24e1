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
#   PYTHON       CPython 3.9 that makes the venv (default: python3.9 on PATH)
#   PROCESSES    processes per cold-import benchmark (default: 15)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VENV=${BENCH_VENV:-$ROOT/build/bench-venv}
OUT=${BENCH_OUT:-$(mktemp -d /tmp/ostrel-bench.XXXXXX)}
PROCESSES=${PROCESSES:-15}
if [ -z "${PYTHON:-}" ]; then
  PYTHON=$(command -v python3.9 || true)
  [ -n "$PYTHON" ] || PYTHON=/root/.pyenv/versions/3.9.18/bin/python
fi
mkdir -p "$OUT"

if [ ! -x "$VENV/bin/python" ]; then
  "$PYTHON" -m venv "$VENV"
fi
PY="$VENV/bin/python"
echo "== venv $VENV" >&2
"$PY" -m pip install -q -U pip
"$PY" -m pip install -q "protobuf==6.33.6" grpcio grpcio-tools pyperf scikit-build-core
command -v cmake >/dev/null && command -v ninja >/dev/null || "$PY" -m pip install -q cmake ninja
echo "== building and installing ostrel" >&2
"$PY" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -C build-dir="$ROOT/build/bench" "$ROOT"

# Run from the output folder, so that the repository's src/ never shadows the
# installed package.
cd "$OUT"
echo "== peer and floor into $OUT/scratch" >&2
"$PY" "$ROOT/bench/prepare.py" "$OUT/scratch" "$ROOT/schema"
"$PY" "$ROOT/bench/prepare.py" --verify "$OUT/scratch"

if "$PY" -c "import importlib.util as u, sys; sys.exit(u.find_spec('ostrel.api.service_pb2_grpc') is None)"; then
  API=whole
else
  API=interim
  echo "   the service module is not built: whole-API import is data_pb2 + system_pb2" >&2
fi

echo "== cold import ($API)" >&2
"$PY" "$ROOT/bench/cold_import.py" --quiet --scratch "$OUT/scratch" --api "$API" \
  --processes "$PROCESSES" -o "$OUT/cold.json"
if [ "$API" = whole ]; then
  echo "== per call" >&2
  "$PY" "$ROOT/bench/calls.py" --quiet --scratch "$OUT/scratch" -o "$OUT/calls.json"
fi
echo "== memory" >&2
"$PY" "$ROOT/bench/memory.py" --scratch "$OUT/scratch" --api "$API" -o "$OUT/memory.json" >/dev/null

echo >&2
"$PY" "$ROOT/bench/report.py" "$OUT" | tee "$OUT/table.md"
echo >&2
echo "results: $OUT (pyperf JSON: python -m pyperf show $OUT/cold.json)" >&2
