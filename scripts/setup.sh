#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (run as
# root), and any further Debian packages named as arguments. Does nothing
# when everything is already there.
#
# The package registry has bad moments: an index caught in a mirror sync
# fails to download, and then the amd64 and i386 halves of a Multi-Arch
# package can come from different suites and never resolve. A failed index
# refresh is retried and then tolerated; an install that cannot resolve is
# retried with the base release's versions for every architecture.
#
# Where this host runs no 32-bit code (winepe/host32.py), qemu-user is
# installed and registered for i386 programs, so that Wine's 32-bit loader
# and the real 32-bit installer can still run, emulated and slowly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# The Python package winepe/ is imported from the checkout's root.
export PYTHONPATH=$(dirname "$here")

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libssl-dev python3
          g++-mingw-w64-i686 binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          wine wine32:i386 wine64 osslsigncode faketime
          clang clang-format libclang-rt-14-dev locales xvfb xauth x11-apps imagemagick "$@")

export DEBIAN_FRONTEND=noninteractive
refreshed=no

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

refresh_indexes() {
  [[ $refreshed == yes ]] && return 0
  refreshed=yes
  local try log
  log=$(mktemp)
  for try in 1 2 3; do
    if apt-get update -qq >"$log" 2>&1; then rm -f "$log"; return 0; fi
    echo "setup: apt-get update failed (try $try of 3): $(grep -m1 '^E:' "$log" || tail -n 1 "$log")" >&2
    ((try < 3)) && sleep $((try * 5))
  done
  rm -f "$log"
  echo "setup: going on with the package indexes that did download" >&2
}

install_packages() {
  local log base
  log=$(mktemp)
  echo "setup: installing $*"
  if apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; then rm -f "$log"; return 0; fi
  base=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [[ -n $base ]]; then
    echo "setup: the install did not resolve; trying again with $base's own versions for every architecture" >&2
    if apt-get install -y -qq --no-install-recommends -t "$base" "$@" >"$log" 2>&1; then rm -f "$log"; return 0; fi
  fi
  tail -n 25 "$log" >&2
  rm -f "$log"
  echo "setup: FAILED to install: $*" >&2
  echo "setup: apt-get could not resolve or fetch them (see above). Check the sources in" >&2
  echo "       /etc/apt/sources.list.d and run 'apt-get update' until it succeeds, then run this again." >&2
  exit 1
}

mapfile -t missing < <(missing_of "${packages[@]}")
if ((${#missing[@]})); then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    refreshed=no
  fi
  refresh_indexes
  install_packages "${missing[@]}"
fi

# Wine takes its locale from LC_ALL: the tests run in Russian and in English.
need_locales=()
for l in ru_RU.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || need_locales+=("$l")
done
if ((${#need_locales[@]})); then
  for l in "${need_locales[@]}"; do
    grep -q "^${l} UTF-8" /etc/locale.gen 2>/dev/null || echo "${l} UTF-8" >>/etc/locale.gen
  done
  locale-gen >/dev/null
fi

# 32-bit programs on a host whose kernel refuses them: qemu-user through
# binfmt_misc. A forced answer of the probe changes nothing here.
if [[ -z ${LEXOMIR_HOST32:-} && $(python3 -m winepe.host32) == none ]]; then
  echo "setup: this host runs no 32-bit programs; registering qemu-user for i386 programs"
  mapfile -t missing < <(missing_of qemu-user-static)
  if ((${#missing[@]})); then
    refresh_indexes
    install_packages qemu-user-static
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [[ -e $binfmt/register ]] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [[ -e $binfmt/qemu-i386 ]]; then
    echo 1 >"$binfmt/qemu-i386"
  else
    # Flag F opens the interpreter now, so it works in every mount namespace.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
  fi
  kind=$(python3 -m winepe.host32)
  if [[ $kind != emulated ]]; then
    echo "setup: FAILED: after registering qemu-user, i386 programs still do not run ($kind)." >&2
    echo "       Check that $binfmt is mounted and writable by root." >&2
    exit 1
  fi
  echo "setup: i386 programs now run emulated (about a hundred times slower)"
fi
