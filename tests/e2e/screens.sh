#!/usr/bin/env bash
# Photographs every page of the real Installer.exe in six languages and checks the pictures
# (check_screens.py). ctest runs it as the test "screens" inside scripts/test, which starts the local
# update server and passes it in CORVANE_*.
#   tests/e2e/screens.sh <build folder> [locale:tag ...]    (all six languages when none are given)
# The interface language follows the locale the prefix's server started with, and the suite's own server
# stays in English for the other tests: the languages take turns in a second prefix (wineprefix-screens,
# a copy of the booted one), each under its own server, on a private display. The pictures (BMP as taken,
# PNG to look at) land in <build>/screenshots/<language tag>/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
build=$(cd "$1" && pwd)

if [ -z "${CORVANE_SERVER_ROOT:-}" ] || [ -z "${CORVANE_HTTPS_PORT:-}" ] || [ -z "${CORVANE_SERVER_LOG:-}" ]; then
  echo "no local update server (run through scripts/test)"
  exit 77
fi

languages="en_US:en-US de_DE:de-DE ja_JP:ja-JP ru_RU:ru-RU th_TH:th-TH fa_IR:fa-IR"
[ $# -lt 2 ] || languages="${*:2}"
# Each download trickles in about twelve pieces, 150 ms apart, and each fixture installer waits before it
# ends: every page then stays up for well over a second.
pieces=12
piece_delay_ms=150
installer_wait_ms=1500

suite_prefix=$WINEPREFIX
export WINEPREFIX="$build/wineprefix-screens"
root=$CORVANE_SERVER_ROOT
work="$build/screens-work"
shots="$build/screenshots"
windows_path() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }

# The manifests live at the paths the program asks for, shared with the other tests: what was there is
# put back afterwards.
served=(public/QLWin5/update.xml downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml location-check)
rm -rf "$work"
mkdir -p "$work/saved" "$shots"
# Moves the files and their .meta sidecars from one root to another, where they exist.
move_served() { # from to
  local path file
  for path in "${served[@]}"; do
    for file in "$path" "$path.meta"; do
      if [ -e "$1/$file" ]; then
        mkdir -p "$(dirname "$2/$file")"
        mv "$1/$file" "$2/$file"
      fi
    done
  done
}
finish() {
  local path
  for path in "${served[@]}"; do rm -f "$root/$path" "$root/$path.meta"; done
  move_served "$work/saved" "$root" || true
  rm -rf "$root/screens"
  stop_started
}
move_served "$root" "$work/saved"
trap finish EXIT
mkdir -p "$root/screens" "$root/public/QLWin5" "$root/downloads/jp/download/xml/mgr/w-quillora"
https="https://localhost:$CORVANE_HTTPS_PORT"
for name in QuilloraSetup.exe setup.exe; do
  cp "$build/installers/signed/$name" "$root/screens/$name"
  size=$(stat -c %s "$root/screens/$name")
  printf '{"mode": "trickle", "chunk": %d, "delay_ms": %d}\n' $((size / pieces + 1)) "$piece_delay_ms" \
    >"$root/screens/$name.meta"
done
cat >"$root/public/QLWin5/update.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<update><release version="6.0 (100)"><executable url="$https/screens/QuilloraSetup.exe" length="$(stat -c %s "$root/screens/QuilloraSetup.exe")"/></release></update>
XML
cat >"$root/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<update><release version="6.0.0.0"><executable url="$https/screens/setup.exe" length="$(stat -c %s "$root/screens/setup.exe")" params="/S"/></release></update>
XML
printf 'US' >"$root/location-check"

# The display first: the prefix's services start with its server and must see it.
start_display --private
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  [ -f "$suite_prefix/system.reg" ] || { echo "the suite's prefix $suite_prefix is not booted" >&2; exit 1; }
  rm -rf "$WINEPREFIX"
  cp -a "$suite_prefix" "$WINEPREFIX"
  rm -f "$WINEPREFIX/corvane-test-ca"  # the copy may predate the registry's last save
fi

server_locale=
start_server() { # locale
  [ "$server_locale" != "$1" ] || return 0
  server_locale=$1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  LC_ALL=$1 wineserver -p </dev/null >/dev/null 2>&1
  LC_ALL=$1 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

start_server en_US.UTF-8
fingerprint=$(openssl x509 -in "$build/certs/ca.pem" -noout -fingerprint -sha256)
if [ "$(cat "$WINEPREFIX/corvane-test-ca" 2>/dev/null)" != "$fingerprint" ]; then
  LC_ALL=en_US.UTF-8 wine "$build/bin/trust_root.exe" "$(windows_path "$build/certs/ca.pem")" </dev/null
  echo "$fingerprint" >"$WINEPREFIX/corvane-test-ca"
fi

status=0
for entry in $languages; do
  locale=${entry%%:*}.UTF-8 tag=${entry#*:}
  out="$shots/$tag"
  rm -rf "$out"
  mkdir -p "$out"
  start_server "$locale"
  started=$(date +%s%N)
  # Wine's own desktop draws window frames, so the pictures look like the program on Windows.
  # It does not pass the driver's exit code on: the driver leaves its verdict in result.txt.
  LC_ALL=$locale timeout 120 wine explorer /desktop=shots,900x700 "$build/bin/screens_driver.exe" \
    "$build/bin/Installer.exe" "$(windows_path "$out")" "$(windows_path "$CORVANE_SERVER_LOG")" \
    "$installer_wait_ms" </dev/null >"$out/driver.log" 2>&1 || true
  if [ "$(cat "$out/result.txt" 2>/dev/null)" != ok ]; then
    echo "$tag: the driver failed" >&2
    status=1
  fi
  echo "$tag: $((($(date +%s%N) - started) / 1000000)) ms"
  if [ -s "$out/driver.log" ]; then sed "s/^/$tag: /" "$out/driver.log" >&2; fi
  for bmp in "$out"/page*.bmp "$out"/focus-*.bmp; do
    if [ -f "$bmp" ]; then /usr/bin/convert "$bmp" "${bmp%.bmp}.png"; fi
  done
done

python3 "$top/tests/e2e/check_screens.py" --shots "$shots" --source "$top" \
  $(for entry in $languages; do printf '%s ' "${entry#*:}"; done) || status=1
echo "screenshots: $shots/<language>/page<N>.png"
exit $status
