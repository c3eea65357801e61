#!/usr/bin/env bash
# The interpreters that neither pyenv nor Debian 12 provides, made once per
# machine under VELLUM_CACHE (~/.cache/vellum) and remade where missing:
#
#   interpreters.sh sid                 Debian unstable in a folder ($CACHE/sid),
#                                       with python3.14 and python3.15 and
#                                       what building vellum needs
#   interpreters.sh in-sid CMD...       CMD inside it, in the current folder
#                                       (mounted at the same path)
#   interpreters.sh free-threaded 3.X   CPython 3.X built with --disable-gil
#                                       from Debian's source ($CACHE/python3.Xt);
#                                       prints the interpreter's path
#   interpreters.sh tsan 3.X            the same with ThreadSanitizer
#                                       ($CACHE/python3.Xt-tsan)
#
# Needs root (debootstrap, chroot, mounts, apt-get) where something is missing.
set -euo pipefail

CACHE=${VELLUM_CACHE:-$HOME/.cache/vellum}
SID=$CACHE/sid
MIRROR=${VELLUM_DEBIAN_MIRROR:-http://deb.debian.org/debian}
SID_PACKAGES="python3.14-dev python3.14-venv python3.15-dev python3.15-venv g++ cmake make libxxhash-dev ca-certificates"
# What CPython's optional modules that the tests and pip use need on the host.
BUILD_PACKAGES="gcc make xz-utils curl libssl-dev zlib1g-dev libffi-dev libbz2-dev liblzma-dev uuid-dev libmpdec-dev"

say() { echo "interpreters.sh: $*" >&2; }

apt_install() {
  local missing
  missing=$(for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
  [ -z "$missing" ] && return 0
  apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
}

# The CA bundle that pip on this host trusts (an intercepting proxy's
# certificate may be in it), from pip's own configuration or the environment.
host_ca_bundle() {
  local f
  for f in "${PIP_CERT:-}" "$(pip config get global.cert 2>/dev/null || true)" \
    "${SSL_CERT_FILE:-}" "${REQUESTS_CA_BUNDLE:-}"; do
    [ -n "$f" ] && [ -f "$f" ] && { echo "$f"; return; }
  done
}

# A folder system is kept only once it is complete: it is made aside and
# renamed, so an interrupted run leaves nothing half made behind.
make_sid() {
  local ready=$SID/.vellum-ready want="$SID_PACKAGES"
  if [ -f "$ready" ] && [ "$(cat "$ready")" = "$want" ]; then
    return
  fi
  apt_install debootstrap
  local tmp=$SID.tmp
  if [ ! -d "$SID" ]; then
    rm -rf "$tmp"
    mkdir -p "$CACHE"
    say "making Debian unstable in $SID"
    debootstrap --variant=minbase sid "$tmp" "$MIRROR" >/dev/null
    # The mirror's Release files may be past their date.
    echo 'Acquire::Check-Valid-Until "false";' >"$tmp/etc/apt/apt.conf.d/99vellum"
    mv "$tmp" "$SID"
  fi
  cp /etc/resolv.conf "$SID/etc/resolv.conf" 2>/dev/null || true
  in_sid_raw apt-get update -qq
  # shellcheck disable=SC2086
  in_sid_raw env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $want >/dev/null
  # The downloaded packages (a quarter of the folder) are not needed again.
  in_sid_raw apt-get clean
  echo "$want" >"$ready"
}

# CMD in the folder system, with /proc, /dev and the current folder mounted
# in a mount namespace of its own (gone when CMD ends), as root, and pip
# trusting what the host's pip trusts.
in_sid_raw() {
  local ca here
  ca=$(host_ca_bundle)
  here=$(pwd -P)
  if [ -n "$ca" ]; then
    mkdir -p "$SID/etc/ssl"
    cp "$ca" "$SID/etc/ssl/host-ca-bundle.crt"
    ca=/etc/ssl/host-ca-bundle.crt
  fi
  unshare --mount --propagation private -- bash -c '
    set -e
    root=$1; here=$2; ca=$3; shift 3
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    mkdir -p "$root$here"
    mount --bind "$here" "$root$here"
    exec chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
      ${CI:+CI=$CI} ${ca:+PIP_CERT=$ca SSL_CERT_FILE=$ca} \
      PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore \
      bash -c "cd \"\$0\" && exec \"\$@\"" "$here" "$@"
  ' vellum-sid "$SID" "$here" "$ca" "$@"
}

# Debian's source of python3.X: the version unstable carries, or, where the
# mirror no longer serves that one, the newest earlier release it does.
fetch_source() {
  local minor=$1 dest=$2 current major patch rc candidates v
  current=$(curl -fsSL "$MIRROR/dists/sid/main/source/Sources.xz" | xz -dc |
    awk -v p="python$minor" '$1 == "Package:" { want = ($2 == p) } want && $1 == "Version:" { print $2 }' |
    sed 's/-[^-]*$//' | sort -V | tail -1)
  [ -n "$current" ] || { say "Debian unstable lists no python$minor"; return 1; }
  major=${current%%[~]*}
  patch=${major##*.}
  candidates=$current
  for ((v = patch - 1; v >= 0; v--)); do candidates+=" $minor.$v"; done
  for rc in 3 2 1; do candidates+=" $minor.0~rc$rc"; done
  for v in $candidates; do
    if curl -fsSL -o "$dest" "$MIRROR/pool/main/p/python$minor/python${minor}_$v.orig.tar.xz" 2>/dev/null; then
      [ "$v" = "$current" ] || say "python$minor $current's source is not on the mirror: building $v"
      echo "$v"
      return
    fi
  done
  say "no source of python$minor found on $MIRROR"
  return 1
}

# Installed aside and moved into place, so a prefix that exists is whole.
build_free_threaded() {
  local minor=$1 flavour=$2 prefix=$CACHE/python${1}t${2:+-$2}
  local python=$prefix/bin/python${minor}t
  if [ -x "$python" ]; then
    echo "$python"
    return
  fi
  apt_install $BUILD_PACKAGES
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/vellum-python.XXXXXX")
  trap 'rm -rf "$work"' RETURN
  local version
  version=$(fetch_source "$minor" "$work/source.tar.xz")
  tar -xJf "$work/source.tar.xz" -C "$work"
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d | head -1)
  say "building CPython $version without the GIL${flavour:+ ($flavour)} into $prefix"
  local start=$SECONDS opts=(--disable-gil --prefix="$prefix" --without-ensurepip --disable-test-modules)
  # ThreadSanitizer sees the interpreter's own locks only where they are
  # compiled with it too.
  [ "$flavour" = tsan ] && opts+=(--with-thread-sanitizer)
  (cd "$src" && ./configure -q "${opts[@]}" >/dev/null &&
    make -s -j"${JOBS:-2}" >/dev/null 2>"$work/build.log" &&
    make -s install DESTDIR="$work/stage" >/dev/null 2>>"$work/build.log") ||
    { tail -30 "$work/build.log" >&2; return 1; }
  echo "$version" >"$work/stage$prefix/VERSION"
  rm -rf "$prefix"
  mkdir -p "$CACHE"
  mv "$work/stage$prefix" "$prefix"
  say "CPython $version${flavour:+ ($flavour)} built in $((SECONDS - start)) s"
  echo "$python"
}

case ${1:-} in
  sid) make_sid ;;
  in-sid) shift; make_sid; in_sid_raw "$@" ;;
  free-threaded) build_free_threaded "$2" "" ;;
  tsan) build_free_threaded "$2" tsan ;;
  *) sed -n '2,17p' "$0" >&2; exit 2 ;;
esac
