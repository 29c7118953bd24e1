#!/usr/bin/env bash
# Runs the test suite against the installed package, twice: with the protobuf
# runtime's default (C) descriptors and with its pure-Python descriptors. Both
# passes always run; the exit status is non-zero when either failed.
# Usage: bash tests/run.sh [PYTHON] [PYTEST ARGS...]
# With test files among the arguments (e.g. test_frame.py, test_x.py::name)
# only those run, else the whole folder.
set -uo pipefail
PY=${1:-python}
shift || true
case "$PY" in */*) PY=$(cd "$(dirname "$PY")" && pwd)/$(basename "$PY") ;; esac
cd "$(dirname "$0")" || exit 2
"$PY" -c 'import ostrel.api.common_pb2 as m, google.protobuf as p, grpc
print("testing", m.__file__, "protobuf", p.__version__, "grpcio", grpc.__version__)' || exit 2

where=(.)
for arg in "$@"; do
  case "$arg" in -*) ;; *) [ ! -e "${arg%%::*}" ] || where=() ;; esac
done

failed=()
"$PY" -m pytest -q -p no:cacheprovider "$@" "${where[@]}" || failed+=("C descriptors")
PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=python "$PY" -m pytest -q -p no:cacheprovider "$@" "${where[@]}" \
  || failed+=("pure-Python descriptors")
if [ "${#failed[@]}" -gt 0 ]; then
  echo "tests/run.sh: FAILED with ${failed[*]}" >&2
  exit 1
fi
echo "tests/run.sh: both passes passed"
