#!/usr/bin/env bash
# keeps_database.sh build NEWDB   |   keeps_database.sh install BUILD_DIR
# A new BR.mdb holds the empty book table; an existing one is kept byte for byte.
set -euo pipefail
mode=$1 arg=$2
dir=$(mktemp -d "${TMPDIR:-/tmp}/bukurea test XXXX") # a blank in the path on purpose
trap 'rm -rf "$dir"' EXIT

make_db() {
  case $mode in
    build) "$arg" "$dir/BR.mdb" ;;
    install) cmake --install "$arg" --prefix "$dir" >/dev/null ;;
  esac
}

# A file of the user's beside it, named like a temporary, is left alone.
printf 'notes' > "$dir/BR.mdb.new"
make_db
[ "$(cat "$dir/BR.mdb.new")" = notes ] || { echo "BR.mdb.new of the user's was removed or changed"; exit 1; }
[ -f "$dir/BR.mdb" ] || { echo "no BR.mdb made"; exit 1; }
head -c 16 "$dir/BR.mdb" | grep -q "SQLite format 3" || { echo "BR.mdb is not a database"; exit 1; }
if [ "$mode" = install ]; then
  for f in bukurea bukurea-jet index.htm share/applications/bukurea.desktop share/icons/hicolor/64x64/apps/bukurea.png; do
    [ -e "$dir/$f" ] || { echo "install lacks $f"; exit 1; }
  done
  grep -qxF "Exec=\"$dir/bukurea\"" "$dir/share/applications/bukurea.desktop" || { echo "desktop entry runs the wrong program"; exit 1; }
  # The Debian package's system layout is never part of a portable install.
  for f in bin lib share/bukurea share/metainfo share/man; do
    [ ! -e "$dir/$f" ] || { echo "portable install holds the package's $f"; exit 1; }
  done
fi

# A collection of the user's: any bytes at all must survive.
printf 'my collection \x00\x01\x02' > "$dir/BR.mdb"
cp "$dir/BR.mdb" "$dir/before"
make_db
cmp "$dir/before" "$dir/BR.mdb" || { echo "existing BR.mdb was changed"; exit 1; }
echo "ok: $mode keeps an existing BR.mdb"
