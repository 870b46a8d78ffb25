#!/usr/bin/env bash
# The second Wine of the Windows tests: Wine 10 from the next Debian release, in a chroot made with
# debootstrap from the machine's own Debian mirror, behind wrappers named wine, wineserver, wineboot,
# winepath and xvfb-run. As root:
#   bash scripts/wine10.sh             sets the chroot up (idempotent: quick once it is there) and
#                                      writes the wrappers; prints their folder
#   bash scripts/wine10.sh run CMD...  runs CMD with the wrappers first on PATH, e.g.
#                                      bash scripts/wine10.sh run ctest --test-dir build/windows
#   bash scripts/wine10.sh remove      deletes the chroot (see below)
# The chroot lives outside the checkout, in QOR_WINE10_ROOT (default ~/.cache/qorengineupdate/wine10),
# and is shared by every checkout of the machine; the wrappers are in the checkout's build/wine10/bin.
#
# Each wrapper call runs its program in a mount namespace of its own, where the machine's /tmp, the
# home folder, this checkout and /dev are bound into the chroot at their own paths (and a /proc is
# mounted). No bind mount ever exists outside those namespaces, and each goes when the last process
# of its namespace ends: a recursive delete of the chroot's folder from the machine cannot follow one
# into the home folder or the checkout, and a run that is killed leaves none behind in the machine's
# view. When "run" ends, failed or not, it ends the Wine 10 programs that it started (a wineserver
# stays up otherwise), and with them their namespaces. remove refuses while anything is mounted in
# the chroot or any program runs in it.
set -euo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
checkout=$(cd "$(dirname "$0")/.." && pwd)
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
root=${QOR_WINE10_ROOT:-${XDG_CACHE_HOME:-$home/.cache}/qorengineupdate/wine10}
wrappers=$checkout/build/wine10
programs=(wine wineserver wineboot winepath xvfb-run)

die() {
  echo "wine10.sh: $*" >&2
  exit 1
}

# The mounts at or below a folder, in this mount namespace.
mounts_below() {
  awk -v r="$1" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/self/mounts
}

# Deletes a folder of the chroot, never while anything is mounted at or below it (a mount there
# could be a bind of the home folder or the checkout, and rm would empty that too).
remove_tree() {
  local tree=$1
  [ -e "$tree" ] || return 0
  if [ -n "$(mounts_below "$tree")" ]; then
    die "not deleting $tree: mounted below it: $(mounts_below "$tree" | tr '\n' ' ')"
  fi
  rm -rf --one-file-system "$tree"
}

# The Debian mirror that the machine's apt sources name for its release (not -updates or -security).
debian_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        uri = ""; deb = 0; release = 0; off = 0
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^[ \t]*#/) continue
          n = split($i, w, /[ \t]+/)
          key = tolower(w[1])
          if (key == "uris:") { uri = w[2] }
          if (key == "enabled:" && tolower(w[2]) == "no") { off = 1 }
          for (j = 2; j <= n; j++) {
            if (key == "types:" && w[j] == "deb") deb = 1
            if (key == "suites:" && w[j] != "" && w[j] !~ /-/) release = 1
          }
        }
        if (uri != "" && deb && release && !off) { print uri; exit }
      }' "$file"
  done
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    sed -E 's/\[[^]]*\]//' | awk '$1 == "deb" && $3 !~ /-/ { print $2 }' || true
}

# The processes that run in the chroot, of any run.
chroot_processes() {
  local process
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && echo "${process#/proc/}"
  done
  return 0
}

# Ends the processes in the chroot that this run started (they carry its QOR_WINE10_RUN), politely
# first: a wineserver that is told to end ends its programs.
end_run() {
  local pids=() pid tries
  for pid in $(chroot_processes); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "QOR_WINE10_RUN=$QOR_WINE10_RUN" &&
      pids+=("$pid")
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill "${pids[@]}" 2>/dev/null || true
  for tries in $(seq 40); do
    kill -0 "${pids[@]}" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -9 "${pids[@]}" 2>/dev/null || true
}

# Runs a command in the chroot, in a mount namespace of this call's own (see the top).
in_chroot() {
  unshare --mount --propagation private -- bash "$self" mounted "$@"
}

setup() {
  [ "$(id -u)" = 0 ] || die "needs root (debootstrap, chroot and mounts)"
  mkdir -p "$(dirname "$root")"
  exec 8>"$root.lock"
  flock 8  # one setup at a time, from any checkout
  if [ ! -f "$root/.qor-ready" ]; then
    command -v debootstrap >/dev/null || die "debootstrap is missing (scripts/setup.sh installs it)"
    if [ ! -f "$root/.qor-base" ]; then
      local mirror
      mirror=$(debian_mirror | awk 'NR == 1')
      [ -n "$mirror" ] || die "no Debian mirror found in the apt sources"
      echo "wine10.sh: making the chroot in $root (a few minutes)" >&2
      remove_tree "$root"
      # In a namespace of its own, so that what debootstrap mounts inside ends with it.
      unshare --mount --propagation private -- \
        debootstrap --variant=minbase trixie "$root" "$mirror" >"$root.log" 2>&1 ||
        die "debootstrap failed; see $root.log"
      touch "$root/.qor-base"
    fi
    cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    echo "wine10.sh: installing Wine 10 in the chroot" >&2
    in_chroot /bin/sh -c 'dpkg --add-architecture i386 && apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        wine wine32:i386 fonts-wine xvfb xauth procps' >>"$root.log" 2>&1 ||
      die "installing Wine in the chroot failed; see $root.log"
    [ -x "$root/usr/bin/wine" ] || die "no wine in the chroot after installing it; see $root.log"
    touch "$root/.qor-ready"
  fi
  flock -u 8
  # The wrappers, and Wine 10's fonts where a Wine installation keeps them (beside bin/), for the
  # test prefixes.
  mkdir -p "$wrappers/bin" "$wrappers/share/wine"
  local program
  for program in "${programs[@]}"; do
    printf '#!/bin/sh\n# Wine 10'\''s %s, in its chroot (scripts/wine10.sh).\nexec bash "%s" enter %s "$@"\n' \
      "$program" "$self" "$program" >"$wrappers/bin/$program.new"
    chmod +x "$wrappers/bin/$program.new"
    mv "$wrappers/bin/$program.new" "$wrappers/bin/$program"
  done
  ln -sfn "$root/usr/share/wine/fonts" "$wrappers/share/wine/fonts"
}

case "${1:-setup}" in
  setup)
    setup
    echo "$wrappers/bin"
    ;;
  run)
    shift
    [ $# -gt 0 ] || die "usage: wine10.sh run COMMAND [ARGUMENTS]"
    setup
    export QOR_WINE10_RUN="$$.$(date +%s%N)"
    trap end_run EXIT
    PATH=$wrappers/bin:$PATH "$@"
    ;;
  enter)  # from a wrapper: PROGRAM ARGUMENTS
    shift
    [ -f "$root/.qor-ready" ] || die "no Wine 10 chroot in $root: run bash scripts/wine10.sh first"
    exec unshare --mount --propagation private -- bash "$self" mounted /usr/bin/"$1" "${@:2}"
    ;;
  mounted)  # inside the namespace: bind, then run COMMAND ARGUMENTS in the chroot
    shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    bound=()
    for folder in /tmp "$home" "$checkout"; do
      # A folder inside one bound already is there with it.
      for b in "${bound[@]}"; do [ "${folder#"$b"/}" = "$folder" ] || continue 2; done
      mkdir -p "$root$folder"
      mount --bind "$folder" "$root$folder"
      bound+=("$folder")
    done
    # The caller's folder when the chroot has it, else /.
    exec chroot "$root" /usr/bin/env PATH=/usr/local/bin:/usr/bin:/bin \
      /bin/sh -c 'cd "$0" 2>/dev/null || cd /; exec "$@"' "$PWD" "$@"
    ;;
  remove)
    exec 8>"$root.lock"
    flock 8
    [ -z "$(chroot_processes)" ] || die "programs run in the chroot: $(chroot_processes | tr '\n' ' ')"
    remove_tree "$root"
    rm -f "$root.log"
    rm -rf "$wrappers"
    ;;
  *)
    die "usage: wine10.sh [setup | run COMMAND... | remove]"
    ;;
esac
