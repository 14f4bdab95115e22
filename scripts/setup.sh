#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine (run as
# root), and any further Debian packages named as arguments. Does nothing
# when everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libssl-dev python3
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 wine64
          clang libclang-rt-14-dev locales xvfb xauth x11-apps imagemagick "$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its locale from LC_ALL: the tests run in Russian and in English.
need_locales=()
for l in ru_RU.UTF-8 en_US.UTF-8; do
  locale -a 2>/dev/null | grep -qix "${l/UTF-8/utf8}" || need_locales+=("$l")
done
if ((${#need_locales[@]})); then
  for l in "${need_locales[@]}"; do
    grep -q "^${l} UTF-8" /etc/locale.gen 2>/dev/null || echo "${l} UTF-8" >> /etc/locale.gen
  done
  locale-gen >/dev/null
fi
