#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running ブクレア need;
# with --test, also those its tests and checking builds need.
#
# Usage: bash tools/install-deps.sh [--test]
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev libgl-dev libsqlite3-dev
  # the reader of collections in the older Access format (libmdb, glib)
  mdbtools-dev
  fonts-ipafont-gothic fonts-noto-cjk xdg-utils
  # Qt's own texts (message-box buttons, context menus) in Japanese
  qt6-translations-l10n
)
test_packages=(
  # independent readers of the exported workbooks
  libfreexl-dev python3-xlrd libreoffice-calc-nogui
  # fuzzing (tools/fuzz.sh): clang's libFuzzer and sanitizer runtimes
  clang libclang-rt-14-dev
  # window placement under a real window manager on a virtual display
  xvfb xauth openbox
  # typing through a real Japanese input method (IBus with Mozc) on that display
  ibus ibus-mozc xdotool dbus
)
# (QtTest comes with qt6-base-dev.)

case "${1:-}" in
  "") ;;
  --test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: bash tools/install-deps.sh [--test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
