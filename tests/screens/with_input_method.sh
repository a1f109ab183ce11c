#!/usr/bin/env bash
# Runs a test program on a virtual X display (Xvfb) with a real Japanese
# input method: IBus with Mozc, on in hiragana mode, reached through Qt's own
# IBus plugin (QT_IM_MODULE=ibus). The test types with xdotool, so every key
# goes the way a user's key goes: X server, Qt, IBus, Mozc. Mozc refuses to
# run for root, so as root the whole run is made as the user nobody.
# Exits 77 (skipped) where IBus, Mozc or xdotool is not installed
# (bash tools/install-deps.sh --test installs them).
# Usage: with_input_method.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
for p in ibus-daemon ibus xdotool dbus-run-session xvfb-run setpriv; do
  command -v "$p" >/dev/null || { echo "$p is not installed: skipped" >&2; exit 77; }
done
[ -x /usr/lib/ibus-mozc/ibus-engine-mozc ] || { echo "ibus-mozc is not installed: skipped" >&2; exit 77; }
if [ "$(id -u)" = 0 ]; then
  setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$1" ||
    { echo "the user nobody cannot run $1: skipped" >&2; exit 77; }
  exec setpriv --reuid=65534 --regid=65534 --clear-groups env -u XDG_RUNTIME_DIR HOME=/tmp "$0" "$@"
fi
if [ -z "${BUKUREA_ON_XVFB:-}" ]; then
  exec env BUKUREA_ON_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- "$0" "$@"
fi
home=$(mktemp -d)
trap 'ibus exit >/dev/null 2>&1 || true; rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache
# Mozc starts in hiragana mode, as a Japanese user keeps it.
mkdir -p "$XDG_CONFIG_HOME/mozc"
cat > "$XDG_CONFIG_HOME/mozc/ibus_config.textproto" <<'CONFIG'
engines {
  name: "mozc-jp"
  longname: "Mozc"
  layout: "default"
  layout_variant: ""
  layout_option: ""
  rank: 80
}
active_on_launch: True
CONFIG
ibus-daemon --daemonize --replace --panel=disable 2>/dev/null
for _ in $(seq 50); do ibus engine mozc-jp >/dev/null 2>&1 && break; sleep 0.2; done
[ "$(ibus engine 2>/dev/null)" = mozc-jp ] || { echo "IBus did not take up Mozc" >&2; exit 1; }
QT_QPA_PLATFORM=xcb QT_IM_MODULE=ibus BUKUREA_REAL_INPUT_METHOD=1 "$@"
