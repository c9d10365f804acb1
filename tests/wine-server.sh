#!/bin/sh
# wine-server.sh start|stop WINESERVER WINE: starts the Wine server of $WINEPREFIX, creating the
# prefix on first use, and leaves it running for the tests that follow; or stops it. The tests run
# programs under a file size limit, which a server started by one of them would inherit. The
# server and Wine's helper processes outlive this script, so they get none of its output, or
# CTest would wait for them.
set -eu
action=$1 wineserver=$2 wine=${3-}
. "$(dirname "$0")/common.sh"
case $action in
start)
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p >/dev/null 2>&1 </dev/null || fail "$wineserver -p failed"
    "$wine" cmd /c exit >/dev/null 2>&1 </dev/null || fail "$wine cannot run cmd in $WINEPREFIX"
    ;;
stop) "$wineserver" -k && "$wineserver" -w ;;  # waits until it is gone, for a start after it
*) fail "usage: wine-server.sh start|stop WINESERVER WINE" ;;
esac
