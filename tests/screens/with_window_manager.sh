#!/usr/bin/env bash
# Runs a test program on a virtual X display (Xvfb) under a real window
# manager (Openbox), whose window frames have a title bar, unlike the
# offscreen platform's even borders.
# Usage: with_window_manager.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
if [ -z "${BUKUREA_ON_XVFB:-}" ]; then
  exec env BUKUREA_ON_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
ready=$(mktemp -u)
openbox --startup "touch $ready" >/dev/null 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true; rm -f "$ready"' EXIT
for _ in $(seq 100); do [ -e "$ready" ] && break; sleep 0.1; done
[ -e "$ready" ] || { echo "openbox did not start" >&2; exit 1; }
QT_QPA_PLATFORM=xcb "$@"
