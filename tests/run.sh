#!/usr/bin/env bash
# Runs the test suite against the installed package, twice: with the protobuf
# runtime's default (C) descriptors and with its pure-Python descriptors.
# Usage: bash tests/run.sh [PYTHON]
set -euo pipefail
PY=${1:-python}
cd "$(dirname "$0")"
"$PY" -c 'import ostrel.api.common_pb2 as m; print("testing", m.__file__)'
"$PY" -m pytest -q -p no:cacheprovider .
PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=python "$PY" -m pytest -q -p no:cacheprovider .
