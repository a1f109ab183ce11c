#!/usr/bin/env bash
# Builds the Debian package and checks it as a user meets it:
#   desktop-file-validate, appstreamcli validate --no-net, lintian (no errors);
#   apt-get install ./bukurea_*.deb; `bukurea --backup` as an unprivileged
#   user with a fresh HOME makes the data folder, the collection and a backup;
#   the Access reader runs from its installed place; the start menu opens
#   under Xvfb; installing again over itself leaves the user's data alone;
#   apt-get remove and purge leave none of the package's files behind.
# Needs root (it installs the package). Usage: tools/package-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build-package}
started=$(date +%s)
step() { printf '== %s (%ss)\n' "$*" $(($(date +%s) - started)); }
fail() { echo "package check FAILED: $*" >&2; exit 1; }

step "tools"
tools=(lintian desktop-file-utils appstream xvfb xauth x11-utils xdotool dpkg-dev fakeroot file)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

step "release build and package"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target bukurea bukurea-jet bukurea_package_files >/dev/null
rm -f "$build"/bukurea_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/bukurea_*.deb)
deb=$(realpath "$deb")
echo "$deb"

step "metadata"
desktop-file-validate packaging/io.github.bukurea.Bukurea.desktop
appstreamcli validate --no-net --explain packaging/io.github.bukurea.Bukurea.metainfo.xml
version=$(sed -n 's/^project(bukurea VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
grep -q "<release version=\"$version\"" packaging/io.github.bukurea.Bukurea.metainfo.xml \
  || fail "the metainfo lists no release $version"
dpkg-deb -c "$deb" | awk '{print $6}' | sort > "$build/package-files.txt"
for f in usr/bin/bukurea usr/lib/bukurea/bukurea-jet usr/share/bukurea/index.htm \
         usr/share/applications/io.github.bukurea.Bukurea.desktop \
         usr/share/metainfo/io.github.bukurea.Bukurea.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/io.github.bukurea.Bukurea.svg \
         usr/share/man/man1/bukurea.1.gz usr/share/man/ja/man1/bukurea.1.gz \
         usr/share/doc/bukurea/copyright usr/share/doc/bukurea/changelog.Debian.gz; do
  grep -qx "\./$f" "$build/package-files.txt" || fail "the package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  grep -qx "\./usr/share/icons/hicolor/${size}x${size}/apps/io.github.bukurea.Bukurea.png" "$build/package-files.txt" \
    || fail "the package lacks the ${size}x${size} icon"
done
! grep -q 'BR\.mdb' "$build/package-files.txt" || fail "the package ships a collection"
dpkg-deb -f "$deb" Depends

step "lintian"
# Errors fail the check; warnings and notes are shown (the README says why
# the one warning stays).
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

step "install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
home=$(mktemp -d /tmp/bukurea-user.XXXXXX)
trap 'rm -rf "$home"' EXIT
chown nobody:nogroup "$home"
# A user without privileges and with nothing of the caller's environment.
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
data=$home/.local/share/bukurea

step "first start: bukurea --backup"
as_user bukurea --backup > "$home/out" 2> "$home/err" || { cat "$home/err"; fail "bukurea --backup failed"; }
cat "$home/out" "$home/err"
[ "$(grep -c 'データベース ファイルを新しく作りました' "$home/err")" = 1 ] || fail "the first start was not told once"
head -c 16 "$data/BR.mdb" | grep -q 'SQLite format 3' || fail "no collection in $data"
backup=$(cat "$home/out")
case $backup in "$data"/backup/BR-*.mdb) ;; *) fail "the backup is not in the data folder: $backup" ;; esac
[ -f "$backup" ] || fail "no backup at $backup"
[ "$(stat -c %U "$data/BR.mdb")" = nobody ] || fail "the collection does not belong to the user"
as_user bukurea --backup > /dev/null 2> "$home/err" || fail "the second bukurea --backup failed"
[ ! -s "$home/err" ] || { cat "$home/err"; fail "a later start said something"; }

step "Access reader from /usr/lib/bukurea"
cp tests/jet/fixtures/jet4_tabel.mdb "$home/old.mdb"
chown nobody:nogroup "$home/old.mdb"
as_user bukurea --convert-access "$home/old.mdb" "$home/converted.mdb" | grep -q ': 20$' \
  || fail "the installed reader did not convert the Access file"

step "start menu under Xvfb"
cat > "$home/window.sh" <<'EOF'
bukurea & pid=$!
for _ in $(seq 1 60); do
  if id=$(xdotool search --onlyvisible --name '^Menu$' 2>/dev/null | head -n 1) && [ -n "$id" ]; then
    xwininfo -id "$id" | grep -E 'Width|Height|Map State'
    kill "$pid"; wait "$pid" 2>/dev/null; exit 0
  fi
  kill -0 "$pid" 2>/dev/null || exit 1
  sleep 0.5
done
kill "$pid"; exit 1
EOF
as_user xvfb-run -a -s '-screen 0 1024x768x24' sh "$home/window.sh" || fail "the start menu did not open"

step "install again over itself"
snapshot() { (cd "$data" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
before=$(snapshot)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --reinstall "$deb" >/dev/null
[ "$(snapshot)" = "$before" ] || fail "reinstalling changed the user's data"
as_user bukurea --backup > /dev/null 2>&1 || fail "bukurea --backup failed after reinstalling"

step "remove and purge"
dpkg -L bukurea > "$build/installed-files.txt"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq bukurea >/dev/null
# A package installed from a file is unknown to apt once removed: dpkg purges.
dpkg --purge bukurea >/dev/null
! dpkg-query -W -f='${Status}' bukurea 2>/dev/null | grep -q installed || fail "bukurea is still installed"
while read -r f; do
  [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is left after removal"
done < "$build/installed-files.txt"
for d in /usr/lib/bukurea /usr/share/bukurea /usr/share/doc/bukurea; do
  [ ! -e "$d" ] || fail "$d is left after removal"
done
[ -f "$data/BR.mdb" ] || fail "removing the package touched the user's collection"

step "package check passed"
