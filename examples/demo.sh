#!/usr/bin/env bash
# One-command demo for a fresh clone:
#   bash examples/demo.sh
# Sets up .venv (Python 3.9) with the package, starts ostrel-server on a free
# port with a throwaway database, pushes the sample project, runs its
# pick-and-place program, shows the state and the records, and stops the
# server again. Set OSTREL_PYTHON to pick the interpreter, TIME_SCALE to run
# the simulated cell slower or faster (default 0.05).
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

find_python() {
  if [ -n "${OSTREL_PYTHON:-}" ]; then echo "$OSTREL_PYTHON"; return; fi
  if command -v pyenv >/dev/null; then
    local candidate
    for candidate in "$(pyenv root)"/versions/3.9.*/bin/python; do
      [ -x "$candidate" ] && { echo "$candidate"; return; }
    done
  fi
  command -v python3.9 || die "no Python 3.9 found (install one with pyenv, or set OSTREL_PYTHON)"
}

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
