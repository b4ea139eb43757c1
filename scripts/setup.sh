#!/usr/bin/env bash
# Installs every package the build and the tests need. Safe to run again.
set -euo pipefail

packages=(
  cmake
  g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  googletest
  wine
  wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
