#!/usr/bin/env bash
# Fails when an include points against the layers of the program:
#   store (Qt Core + SQLite) <- export (Core) <- screens (Widgets) <- app
# The store and the export include nothing of the screens or the
# application; no screen includes the application's navigator.
set -u
src=${1:?usage: check_layers.sh SOURCE_DIR}/src
status=0
report() { echo "$1: $2"; status=1; }

while IFS= read -r hit; do
  report "${hit%%:*}" "includes against the layers: ${hit#*:}"
done < <(grep -rnE '#include *"(screens|app)/' "$src/store" "$src/export")
while IFS= read -r hit; do
  report "${hit%%:*}" "the store includes nothing of the export: ${hit#*:}"
done < <(grep -rnE '#include *"export/' "$src/store")
while IFS= read -r hit; do
  report "${hit%%:*}" "needs Qt GUI or Widgets, which the store and the export do without: ${hit#*:}"
done < <(grep -rnE '#include *<(Qt(Gui|Widgets)/|Q(Widget|Application|GuiApplication|LineEdit|ComboBox|Label|MessageBox|PushButton|Dialog|Pixmap|Image|Font|Color|Palette)\b)' "$src/store" "$src/export")
while IFS= read -r hit; do
  report "${hit%%:*}" "a screen asks for navigation through its signals: ${hit#*:}"
done < <(grep -rnE '#include *"app/' "$src/screens")
exit $status
