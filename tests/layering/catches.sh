#!/usr/bin/env bash
# The layering check itself: on a copy of the sources it passes, and each
# fault below, put into a fresh copy, makes it fail naming the file.
# Usage: catches.sh SOURCE_DIR
set -euo pipefail
source_dir=${1:?usage: catches.sh SOURCE_DIR}
check=$(dirname "$0")/check_layers.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/layering.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0

fresh() { rm -rf "$work/src"; cp -r "$source_dir/src" "$work/src"; }

fresh
bash "$check" "$work" >/dev/null || { echo "the check fails on the sources as they are"; status=1; }

# file | line appended, or "rm" to remove the folder | what must be named
while IFS='|' read -r file line named; do
  fresh
  if [ "$line" = rm ]; then rm -rf "$work/src/$file"; else printf '%s\n' "$line" >> "$work/src/$file"; fi
  if out=$(bash "$check" "$work"); then
    echo "not caught: $line in $file"; status=1
  elif ! grep -qF "$named" <<<"$out"; then
    echo "caught without naming $named: $out"; status=1
  fi
done <<'CASES'
store/like.cpp|#include "screens/menu/startmenu.h"|store/like.cpp
export/utf8.cpp|#include <app/navigation.h>|export/utf8.cpp
store/like.cpp|#include "export/utf8.h"|store/like.cpp
export/workbook.cpp|#include <QWidget>|export/workbook.cpp
store/module1.h|#include <QtGui/QColor>|store/module1.h
screens/menu/startmenu.cpp|  #  include "app/navigation.h"|screens/menu/startmenu.cpp
app/fonts.cpp|#include "../screens/menu/startmenu.h"|app/fonts.cpp
screens/list/grid.cpp|#include "../../store/like.h"|screens/list/grid.cpp
export|rm|src/export
app|rm|src/app
CASES
[ $status -eq 0 ] && echo "ok: the layering check catches every fault"
exit $status
