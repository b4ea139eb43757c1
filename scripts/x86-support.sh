#!/usr/bin/env bash
# Exit value 0 when this machine can run the x86 build, 1 when it cannot:
#   scripts/x86-support.sh          32-bit programs run and 32-bit Wine (wine32:i386) is installed
#   scripts/x86-support.sh kernel   32-bit programs run (what set-up asks before it installs wine32)
# Whether 32-bit programs run is tried, not guessed: a static i386 program, assembled and linked
# here with binutils, must start and return its exit value. A kernel without 32-bit support
# refuses it ("Exec format error").
set -u
cd "$(dirname "$0")/.."
probe=build/probe-x86
mkdir -p "$probe"
printf '.globl _start\n_start:\n\tmovl $1, %%eax\n\tmovl $42, %%ebx\n\tint $0x80\n' >"$probe/exit42.s"
as --32 -o "$probe/exit42.o" "$probe/exit42.s" && ld -m elf_i386 -o "$probe/exit42" "$probe/exit42.o" || exit 1
"$probe/exit42" 2>/dev/null
[ $? -eq 42 ] || exit 1
[ "${1:-}" = kernel ] && exit 0
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
