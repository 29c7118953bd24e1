#!/usr/bin/env bash
# The part of tools/cross.sh that runs inside the foreign root, on its own
# CPython (Debian's, without pip of its own) and compiler, from /src.
# Usage (by tools/cross.sh): bash tools/cross_inside.sh quick|full
set -uo pipefail
cd "$(dirname "$0")/.."
SCOPE=${1:-quick}
ARCH=$(uname -m)
PY=/usr/bin/python3
VENV=/opt/ostrel-test
# Every run, under emulation (about 5 times slower than native): the service
# module, the module frame and the message layout, where a compiler or an ABI
# of another architecture shows first. The rest of the suite is pure Python
# over the same modules and runs with --full (before a release).
QUICK_TESTS=(test_service.py test_frame.py test_layout.py)

step_start=$SECONDS
step() {
  [ -z "${step_name:-}" ] || echo "== $ARCH: $step_name: $((SECONDS - step_start))s"
  step_name=$1 step_start=$SECONDS
  [ -z "$1" ] || echo "== $ARCH: $1"
}

# Pip's own work is slow under emulation, so the package is built once: the
# wheel that tools/wheels.sh builds, repairs and smoke-tests in a fresh venv
# is the one the tests then run against.
step "wheel: build, auditwheel repair, smoke test in a fresh venv ($($PY -V))"
bash tools/wheels.sh --python "$PY" || { step ""; exit 1; }
wheel=$(ls -t wheelhouse/ostrel-*"_$ARCH.whl" | head -n 1)

status=0
step "install the wheel with the test extra"
$PY -m venv "$VENV" && "$VENV/bin/python" -m pip install -q "$wheel[test]" || { step ""; exit 1; }
if [ "$SCOPE" = full ]; then
  step "the whole suite, both protobuf implementations"
  bash tests/run.sh "$VENV/bin/python" || status=1
else
  step "${QUICK_TESTS[*]}, both protobuf implementations"
  bash tests/run.sh "$VENV/bin/python" "${QUICK_TESTS[@]}" || status=1
fi
step ""
exit $status
