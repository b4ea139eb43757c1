#!/usr/bin/env bash
# start BUILD_DIR: makes the Wine prefix of a build tree (once) and starts its server detached,
#                  so that test runners reading a child's output never wait for Wine's own
#                  processes; maps the spare drive Q: to BUILD_DIR/qdrive for the tests (before
#                  the server starts, so that its mount manager knows the drive).
#                  A prefix made before 32-bit Wine was installed cannot start 32-bit programs
#                  ("could not load kernel32.dll"): where the x86 build can run, such a prefix is
#                  made again.
# stop BUILD_DIR:  stops that server.
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
scripts=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Without a UTF-8 locale Wine cannot create or open files whose names are not ASCII.
export LC_ALL=C.UTF-8

case "$action" in
  start)
    if [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
       "$scripts/x86-support.sh"; then
      wineserver -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wine wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    # Before the server starts: a drive letter made while it runs is unknown to Wine's mount
    # manager, and the final path of anything on it cannot be found (GetFinalPathNameByHandleW
    # fails with "file not found").
    mkdir -p "$build/qdrive"
    ln -sfn "$build/qdrive" "$WINEPREFIX/dosdevices/q:"
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    wine wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
