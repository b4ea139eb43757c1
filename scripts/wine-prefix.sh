#!/usr/bin/env bash
# start BUILD_DIR: makes the Wine prefix of a build tree (once) and starts its server detached,
#                  so that test runners reading a child's output never wait for Wine's own
#                  processes; maps the spare drive Q: to BUILD_DIR/qdrive for the tests.
# stop BUILD_DIR:  stops that server.
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    wine wineboot </dev/null >/dev/null 2>&1
    mkdir -p "$build/qdrive"
    ln -sfn "$build/qdrive" "$WINEPREFIX/dosdevices/q:"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *)
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
