#!/usr/bin/env bash
# Installs every package the build and the tests need, on a minimal Debian 12 too, and 32-bit Wine
# (wine32:i386) when this machine runs 32-bit programs. Safe to run again: it asks apt only for
# what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/environment.sh

packages=(
  cmake
  make
  binutils   # as and ld for the probe of 32-bit support
  clang      # the compiler, with GCC's mingw-w64 runtime below
  lld        # the linker: PDB files
  llvm       # llvm-objcopy, and llvm-readobj/llvm-pdbutil for the static checks
  clang-format  # the format check of the tests
  clang-tidy    # scripts/tidy.sh
  g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  googletest
  wine
  wine64
  nsis       # makensis: the demo product's installers of the tests and the demo
  wixl       # the demo product's Windows Installer package of the tests
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_missing() {
  local missing=()
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing ${missing[*]}"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"

if ! installed wine32:i386; then
  if scripts/x86-support.sh kernel; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
    install_missing wine32:i386
  else
    echo "This machine cannot run 32-bit programs: 32-bit Wine is not installed, the x86 build will not run."
  fi
fi
