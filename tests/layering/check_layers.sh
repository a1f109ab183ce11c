#!/usr/bin/env bash
# Fails when an include points against the layers of the program:
#   store (Qt Core + SQLite) <- export (Core) <- screens (Widgets) <- app
# The store and the export include nothing of the screens or the
# application; no screen includes the application's navigator. An include
# that climbs out of its folder ("../") is refused everywhere, since it
# would hide where it points; a layer's folder that is missing fails the
# check rather than leave nothing to look at.
set -u
src=${1:?usage: check_layers.sh SOURCE_DIR}/src
status=0
report() { echo "$1: $2"; status=1; }

for layer in store export screens app; do
  [ -d "$src/$layer" ] || report "$src/$layer" "the folder of a layer is missing"
done
[ $status -eq 0 ] || exit $status

# Every include as "file:line:text", quoted or in angle brackets.
includes() { grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$@"; }
against() { # pattern, message, folders...
  local pattern=$1 message=$2 hit
  shift 2
  while IFS= read -r hit; do
    report "${hit%%:*}" "$message: ${hit#*:}"
  done < <(includes "$@" | grep -E "$pattern")
}

against '#[[:space:]]*include[[:space:]]*["<](screens|app)/' "includes against the layers" "$src/store" "$src/export"
against '#[[:space:]]*include[[:space:]]*["<]export/' "the store includes nothing of the export" "$src/store"
against '#[[:space:]]*include[[:space:]]*<(Qt(Gui|Widgets)/|Q(Widget|Application|GuiApplication|LineEdit|ComboBox|Label|MessageBox|PushButton|Dialog|Pixmap|Image|Font|Color|Palette)\b)' \
  "needs Qt GUI or Widgets, which the store and the export do without" "$src/store" "$src/export"
against '#[[:space:]]*include[[:space:]]*["<]app/' "a screen asks for navigation through its signals" "$src/screens"
against '#[[:space:]]*include[[:space:]]*["<][^">]*\.\./' "an include climbs out of its folder; name it from src/" "$src"
exit $status
