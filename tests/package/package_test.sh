#!/usr/bin/env bash
# package_test.sh SOURCE_DIR BUILD_DIR
#
# The Debian package from its making to its removal: scripts/package builds it from the
# built program; lintian, appstreamcli and desktop-file-validate check it; dpkg -i
# installs it on this machine; the installed program runs headless against the local
# vendor service (an update run whose release has a data file and a program file, and a
# sign-in) and through its desktop entry under Xvfb; dpkg -r takes it away again, which
# leaves only what the user made. Installing system-wide needs root and no lumora
# package of someone else's: otherwise the test is skipped (exit 77).
set -euo pipefail
src=$1
build=$2
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: the package test installs with dpkg -i system-wide and runs only as root"
  exit 77
fi
if dpkg-query -W -f='${Status}' lumora 2>/dev/null | grep -q ' installed$'; then
  echo "SKIP: a lumora package is installed on this machine; the test leaves it alone"
  exit 77
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lumora-package-test-XXXXXX")
installed=0
vendor_pid=
cleanup() {
  [ -z "$vendor_pid" ] || kill "$vendor_pid" 2>/dev/null || true
  [ "$installed" = 0 ] || dpkg -r lumora >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
failed=0
check() {  # description, command...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# The package, and what the checkers say of it (every line shown).
deb=$(LUMORA_SCREENSHOT=/nonexistent LUMORA_RELEASE_KEYS= BUILD_DIR=$build "$src/scripts/package" --no-build "$scratch/out")
version=$("$build/lumora" --version)
version=${version#lumora }
check "the package is named for the program's version" test "$(basename "$deb")" = \
  "lumora_${version}_$(dpkg --print-architecture).deb"
check "lintian finds no error and no warning" lintian --fail-on error,warning --info "$deb"
dpkg-deb -x "$deb" "$scratch/x"
check "appstreamcli validates the metainfo" appstreamcli validate --no-net --pedantic \
  "$scratch"/x/usr/share/metainfo/*.metainfo.xml
check "desktop-file-validate passes the desktop entry" desktop-file-validate \
  "$scratch/x/usr/share/applications/lumora.desktop"
check "the desktop entry passes the file it opens" \
  grep -qx 'Exec=lumora %f' "$scratch/x/usr/share/applications/lumora.desktop"
check "the program is stripped" sh -c "! readelf -S '$scratch/x/usr/lib/lumora/lumora' | grep -q symtab"
# The store ends in the complemented "PACKED".
check "the program carries its store after the strip" test \
  "$(tail -c 6 "$scratch/x/usr/lib/lumora/lumora" | od -An -tx1 | tr -d ' \n')" = afbebcb4babb

dpkg -i "$deb" >/dev/null
installed=1
check "the installed program says its version" test "$(lumora --version)" = "lumora $version"
check "man finds the manual page" test "$(man -w lumora)" = /usr/share/man/man1/lumora.1.gz
check "the manual page formats without a warning" sh -c \
  "test -z \"\$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l /usr/share/man/man1/lumora.1.gz 2>&1 >/dev/null)\""

# The vendor service with a release of one data file and one program file.
root=$scratch/vendor
mkdir -p "$root/Storage/XmlFile" "$root/update"
cp "$src"/res/demo/vendor/*.txt "$root/"
"$build/lumora-vendor" --root "$root" --port 0 >"$scratch/vendor.out" 2>&1 &
vendor_pid=$!
for _ in $(seq 100); do
  grep -q '^port ' "$scratch/vendor.out" && break
  sleep 0.1
done
port=$(sed -n 's/^port //p' "$scratch/vendor.out")
[ -n "$port" ] || { cat "$scratch/vendor.out"; echo "FAILED: the vendor service did not start"; exit 1; }
url=http://127.0.0.1:$port
printf '%s\r\n' "主服务器|$url/update/manifest.xml" | iconv -f UTF-8 -t GB2312 \
  >"$root/Storage/XmlFile/serverlist.txt"
printf 'news of the day\n' >"$root/update/news.txt"
printf '#!/bin/sh\necho replaced\n' >"$root/update/lumora"
entry() {  # name install-dir local-path
  printf '<File><FileName>%s</FileName><Length>%s</Length><InstallDir>%s</InstallDir>' \
    "$1" "$(stat -c %s "$root/update/$1")" "$2"
  printf '<LocalPath>%s</LocalPath><FileDateLow>0</FileDateLow>' "$3"
  printf '<FileDateHigh>4294967295</FileDateHigh><URL>%s</URL></File>\r\n' "$url/update/$1"
}
{
  printf '<?xml version="1.0" encoding="GB2312" ?>\r\n<xmlRoot keyname="KeyValue">\r\n'
  printf '<Product productname="P" createdate="2026-01-01 00:00:00" filenum="2">\r\n'
  entry news.txt APPDATADIR 'vellari\public\upd'
  entry lumora CURRENTDIR ''
  printf '</Product>\r\n</xmlRoot>\r\n'
} >"$root/update/manifest.xml"

# The installed program, headless, from a folder of its own: the update at start, then
# a sign-in once the update is over; the end of its input ends it.
home=$scratch/home
mkdir -p "$home" "$scratch/cwd"
mkdir -m 0700 "$scratch/run"
out=$scratch/run.out
coproc program {
  cd "$scratch/cwd" && exec env HOME="$home" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$scratch/run" LUMORA_SHOP_HOST="127.0.0.1:$port" \
    LUMORA_LOGIN_HOST="127.0.0.1:$port" lumora --headless "$url/Storage/XmlFile/serverlist.txt" auto \
    2>"$scratch/run.err"
}
program_pid=$program_PID
wait_for() {  # pattern: reads the program's output until a line holds it
  local line
  while IFS= read -r -t 60 line <&"${program[0]}"; do
    printf '%s\n' "$line" >>"$out"
    case $line in *"$1"*) return 0 ;; esac
  done
  return 1
}
check "the update run ends" wait_for '"name":"UpdateResult"'
echo '{"fscommand":"logon","args":"u=reader|p=secret|a=|b="}' >&"${program[1]}"
check "the reader signs in" wait_for '"name":"UserPass","value":"true"'
exec {program[1]}>&-
cat <&"${program[0]}" >>"$out" || true
wait "$program_pid" || { echo "FAILED: the program ended with $?"; cat "$scratch/run.err"; failed=1; }

data=$home/data/vellari
check "the update installs the data file" test "$(cat "$data/public/upd/news.txt" 2>/dev/null)" = "news of the day"
check "the update ends well" grep -q '"name":"UpdateResult","value":"ok"' "$out"
check "the program's files stay the package's" test -z "$(dpkg --verify lumora)"
check "the program's folder holds nothing else" test \
  "$(ls -A /usr/lib/lumora | tr '\n' ' ')" = "lumora lumora-desktop.so "
check "the log says once that the packages update the program" test \
  "$(grep -c '程序本身由系统的软件包更新' "$out")" = 1
check "CurrentDir is the data folder's shelves" \
  grep -qF "{\"setVariable\":{\"name\":\"CurrentDir\",\"value\":\"$data/shelves/\"}}" "$out"
check "the reader's shelf is in the data folder" test -f "$data/shelves/reader/reader.xml"
check "nothing is written in the folder the program started in" test -z "$(ls -A "$scratch/cwd")"

# Through its desktop entry on a display of the test's own: the window shows the movie
# (more than one colour on the screen).
if command -v xvfb-run >/dev/null; then
  shot=$scratch/shot.png
  check "the desktop entry starts the program, whose movie paints" xvfb-run -a \
    -s "-screen 0 1024x768x24" env HOME="$home" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$scratch/run" LUMORA_SHOP_HOST="127.0.0.1:$port" \
    LUMORA_LOGIN_HOST="127.0.0.1:$port" sh -c '
      gio launch /usr/share/applications/lumora.desktop || exit 1
      for i in $(seq 300); do
        import -window root "$0" 2>/dev/null &&
          [ "$(convert "$0" -format %k info:)" -gt 8 ] && break
        sleep 0.2
      done
      # The only window on this display is the one of the program.
      pid=$(xdotool search --onlyvisible --name . getwindowpid 2>/dev/null | head -n1)
      [ -z "$pid" ] || kill "$pid"
      [ "$(convert "$0" -format %k info:)" -gt 8 ]' "$shot"
fi

# The package goes; what the reader made stays.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
dpkg -r lumora >/dev/null
installed=0
left=""
for f in $files; do
  if [ -e "$f" ] || [ -L "$f" ]; then left+=" $f"; fi
done
check "dpkg -r leaves none of the package's files" test -z "$left"
check "dpkg -r leaves no folder of the program's" test ! -e /usr/lib/lumora
check "the reader's files stay" test -f "$data/shelves/reader/reader.xml"
[ "$failed" = 0 ] || { echo "--- program output"; cat "$out" "$scratch/run.err"; }
exit "$failed"
