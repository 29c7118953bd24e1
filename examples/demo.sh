#!/usr/bin/env bash
# One-command demo for a fresh clone:
#   bash examples/demo.sh
#   bash examples/demo.sh --which-python     # only print the interpreter it would use
# Sets up .venv with the package, on the first supported CPython it finds
# (3.9 if there is one, else the newest of 3.10 to 3.13; pyenv's, then those
# on PATH), starts ostrel-server on a free port with a throwaway database,
# pushes the sample project, runs its pick-and-place program, shows the state
# and the records, and stops the server again. Set OSTREL_PYTHON to pick the
# interpreter yourself, TIME_SCALE to run the simulated cell slower or faster
# (default 0.05).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
TIME_SCALE="${TIME_SCALE:-0.05}"
cd "$ROOT"

say() { printf '\n== %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    die "need root to run: $*"; fi
}

# The supported versions in the order they are preferred: the oldest, on
# which the package is most often installed, then the newest first.
PREFERRED=(3.9 3.13 3.12 3.11 3.10)

# True when <python> runs, is a CPython of a supported version and can make a
# venv with pip (Debian's python3.X needs its python3.X-venv package for that).
usable_python() {
  "$1" -c 'import platform, sys, ensurepip, venv
sys.exit(not (platform.python_implementation() == "CPython" and (3, 9) <= sys.version_info[:2] <= (3, 13)))' \
    >/dev/null 2>&1
}

candidates_of() {  # <major.minor>: pyenv's builds of it (newest first), then the one on PATH
  local root=${PYENV_ROOT:-}
  [ -n "$root" ] || ! command -v pyenv >/dev/null || root=$(pyenv root)
  if [ -n "$root" ]; then ls -d "$root"/versions/"$1".*/bin/python"$1" 2>/dev/null | sort -rV || true; fi
  command -v "python$1" || true
}

find_python() {
  if [ -n "${OSTREL_PYTHON:-}" ]; then echo "$OSTREL_PYTHON"; return; fi
  local version candidate
  for version in "${PREFERRED[@]}"; do
    while read -r candidate; do
      [ -n "$candidate" ] && usable_python "$candidate" && { echo "$candidate"; return; }
    done < <(candidates_of "$version")
  done
  candidate=$(command -v python3 || true)
  [ -n "$candidate" ] && usable_python "$candidate" && { echo "$candidate"; return; }
  die "no CPython 3.9 to 3.13 with venv found (install one, for example with pyenv, or set OSTREL_PYTHON)"
}

if [ "${1:-}" = "--which-python" ]; then find_python; exit 0; fi

# 1. Build tools and the environment ------------------------------------------
missing=()
command -v c++ >/dev/null || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

if [ ! -x "$VENV/bin/python" ]; then
  PY="$(find_python)"
  say "creating $VENV with $("$PY" --version 2>&1)"
  "$PY" -m venv "$VENV"
fi
say "installing ostrel into $VENV (builds the extension modules; the first time takes a minute)"
"$VENV/bin/python" -m pip install -q --upgrade pip
"$VENV/bin/python" -m pip install -q "$ROOT"

# 2. Server ----------------------------------------------------------------------
WORK="$(mktemp -d)"
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ] && kill -0 "$SERVER_PID" 2>/dev/null; then
    kill -TERM "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

say "starting ostrel-server (free port, database $WORK/demo.sqlite3, time scale $TIME_SCALE)"
"$VENV/bin/ostrel-server" --port 0 --db "$WORK/demo.sqlite3" --time-scale "$TIME_SCALE" \
  >"$WORK/server.out" 2>"$WORK/server.log" &
SERVER_PID=$!
PORT=""
for _ in $(seq 100); do
  PORT="$(sed -n 's/^ostrel-server listening on .*:\([0-9][0-9]*\) .*/\1/p' "$WORK/server.out")"
  [ -n "$PORT" ] && break
  kill -0 "$SERVER_PID" 2>/dev/null || { cat "$WORK/server.log" >&2; die "the server did not start"; }
  sleep 0.1
done
[ -n "$PORT" ] || die "the server did not report its port"
cat "$WORK/server.out"

ostrel() { "$VENV/bin/ostrel" --target "localhost:$PORT" "$@"; }

# 3. The demo ----------------------------------------------------------------------
say "ostrel connect";                                  ostrel connect
say "ostrel push examples/pick_and_place.json";        ostrel push examples/pick_and_place.json
say "ostrel pull";                                     ostrel pull
say "ostrel run pick_and_place --wait";                ostrel run pick_and_place --wait
say "ostrel state";                                    ostrel state
say "ostrel records --out $WORK/records.json";         ostrel records --out "$WORK/records.json"
say "an unknown behavior is refused with one line and a non-zero exit"
ostrel run no_such_behavior || true

say "stopping the server"
kill -TERM "$SERVER_PID"
wait "$SERVER_PID" || true
SERVER_PID=""
tail -n 3 "$WORK/server.log"
say "done"
