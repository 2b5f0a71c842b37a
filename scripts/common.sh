# Shared by the scripts: where the build lives and how its Wine prefix and display are brought up.
# Sourced, not run.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Each flavour has a build tree and a Wine prefix of its own under this folder: <builds>/32 and <builds>/64.
builds=${BUILD_DIR:-$top/build}

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The interface language follows the locale the prefix's server starts with; tests compare English texts.
# Given to Wine only: the shell itself has no such locale generated.
locale=${CORVANE_LOCALE:-en_US.UTF-8}

started_pids=()

# Flavours. The product is the 32-bit Installer.exe, and its tests run under Wine's 32-bit loader, which is
# itself a 32-bit Linux program: on a kernel without IA-32 emulation it cannot start, and only the 64-bit
# flavour (the same tree built for x86_64-w64-mingw32, run by wine64) can run there.

# True when this kernel executes 32-bit x86 Linux programs. Asks the kernel itself with a 96-byte static
# program that exits with 42, so the answer needs no i386 package and no foreign architecture.
runs_32bit_programs() {
  local probe status=0
  mkdir -p "$builds"
  probe=$(mktemp "$builds/.probe32.XXXXXX") || return 1
  # ELF header, one loadable segment at 0x08048000, then: mov eax, 1; mov ebx, 42; int 0x80 (exit(42)).
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'\
'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00'\
'\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' \
    >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# The packages of the 32-bit runtime, which setup installs in a step of its own. A test names a package the
# registry cannot supply here, to run that step's failure for real.
runtime32_packages=${CORVANE_SETUP_32BIT_PACKAGES:-wine32:i386}

# True when every package of the 32-bit runtime is installed.
has_32bit_runtime() {
  local p
  for p in $runtime32_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

# The flavours this run uses, in the order they run, and why: CORVANE_FLAVOUR=32|64 forces one; otherwise
# 32 where the machine runs 32-bit programs and has the 32-bit Wine (and 64 too when $1 is "all", so that path
# never rots), else 64. With $1 "setup": the flavours to install for, whether or not the 32-bit Wine is there.
# Sets `flavours` and `flavour_reason`.
choose_flavours() {
  case "${CORVANE_FLAVOUR:-}" in
    32 | 64)
      flavours=$CORVANE_FLAVOUR
      flavour_reason="forced by CORVANE_FLAVOUR=$CORVANE_FLAVOUR"
      ;;
    "" | all)
      # "all": both, as on a machine that runs 32-bit programs, with the same fallback when the 32-bit Wine
      # cannot be installed.
      if [ "${CORVANE_FLAVOUR:-}" != all ] && ! runs_32bit_programs; then
        flavours=64
        flavour_reason="this machine cannot run 32-bit Linux programs, so Wine's 32-bit loader cannot start"
      elif [ "${1:-}" = setup ] || has_32bit_runtime; then
        flavours=32
        if [ "${1:-}" = all ] || [ "${1:-}" = setup ]; then flavours="32 64"; fi
        flavour_reason="this machine runs 32-bit programs"
        if [ "${CORVANE_FLAVOUR:-}" = all ]; then flavour_reason="forced by CORVANE_FLAVOUR=all"; fi
      else
        flavours=64
        flavour_reason="this machine runs 32-bit programs, but setup could not install the 32-bit Wine"
        flavour_reason+=" ($runtime32_packages): the 64-bit flavour runs for now"
      fi
      ;;
    *)
      echo "CORVANE_FLAVOUR must be 32, 64 or all, not '$CORVANE_FLAVOUR'" >&2
      return 1
      ;;
  esac
}

# Says which flavours run and why; every script's first words.
announce_flavours() {
  local name=$1 f list=""
  for f in $flavours; do list+="${list:+ and }$(flavour_name "$f")"; done
  echo "$name: $list ($flavour_reason)" >&2
}

flavour_name() {
  case "$1" in
    32) echo "32-bit flavour (i686-w64-mingw32, wine32)" ;;
    64) echo "64-bit flavour (x86_64-w64-mingw32, wine64)" ;;
  esac
}

# For the scripts that run one flavour (the demo, the benchmarks): installs what is missing, chooses the
# flavour (after setup, which may have found the 32-bit Wine unavailable), says so, and points at it.
run_one_flavour() {
  "$top/scripts/setup"
  choose_flavours
  announce_flavours "$1"
  use_flavour "$flavours"
}

# Points the build tree, the toolchain and the Wine prefix at one flavour.
use_flavour() {
  flavour=$1
  build=$builds/$flavour
  case "$flavour" in
    32) triple=i686-w64-mingw32 toolchain=$top/cmake/mingw-i686.cmake; export WINEARCH=win32 ;;
    64) triple=x86_64-w64-mingw32 toolchain=$top/cmake/mingw-x86_64.cmake; export WINEARCH=win64 ;;
  esac
  export WINEPREFIX="$build/wineprefix"
}

configure_and_build() {
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$build"
}

# A private prefix per build tree, created once (about 10 s). Its server is started persistently and its
# services detached, so they do not inherit a test runner's output pipe and every later process starts fast.
boot_prefix() {
  mkdir -p "$build"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "booting the Wine prefix in $WINEPREFIX" >&2
    # wineboot's exit status says little (it can be non-zero on a good boot): judge by the registry file.
    DISPLAY= LC_ALL=$locale wineboot -i </dev/null >/dev/null 2>&1 || true
    LC_ALL=$locale wineserver -w 2>/dev/null || true
    [ -f "$WINEPREFIX/system.reg" ] || { echo "the Wine prefix did not boot" >&2; return 1; }
  fi
  LC_ALL=$locale wineserver -p </dev/null >/dev/null 2>&1
  LC_ALL=$locale wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # A crashing test program must end, not wait on a crash dialog nobody will answer. Once per prefix, so
  # prefixes booted before this setting existed get it too.
  if [ ! -f "$WINEPREFIX/corvane-no-crash-dialog" ]; then
    LC_ALL=$locale wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >/dev/null 2>&1 && touch "$WINEPREFIX/corvane-no-crash-dialog"
  fi
  # On a display of our own there is no window manager, and Wine would wait 2 s for one to confirm every
  # window it hides (a closing dialog): there, windows are left unmanaged and hide at once, as on Windows.
  # On a desktop of the user's, its manager frames and moves them.
  local managed=Y
  [ -n "${private_display:-}" ] && managed=N
  if [ "$(cat "$WINEPREFIX/corvane-managed" 2>/dev/null)" != "$managed" ]; then
    LC_ALL=$locale wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d $managed /f \
      </dev/null >/dev/null 2>&1 && echo "$managed" >"$WINEPREFIX/corvane-managed"
  fi
}

# Xvfb on a free display number, unless a display is given. Remembers what it started.
start_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--private" ]; then return 0; fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      started_pids+=($!)
      private_display=":$n"
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      echo "Xvfb did not start on :$n" >&2
      return 1
    fi
  done
  echo "no free X display number" >&2
  return 1
}

# Stops what this script started, by process id, and the prefix's server.
stop_started() {
  local pid
  for pid in "${started_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  started_pids=()
  wineserver -k 2>/dev/null || true
}

# The local update server (tests/fixtures/update_server.py) that the tests under Wine fetch from. Its ports
# are kept from run to run of a build tree (server/ports.json) while they are free, so whatever was built
# with them stays valid; a taken port is replaced by a fresh one. Exports CORVANE_SERVER_ROOT (a Unix path:
# Wine shows it under Z:), CORVANE_HTTP_PORT, CORVANE_HTTPS_PORT, CORVANE_PROXY_PORT (the server's proxy),
# the real peers' CORVANE_TINYPROXY_PORT, CORVANE_NGINX_HTTP_PORT and CORVANE_NGINX_HTTPS_PORT ("-" for a peer
# that did not start), and CORVANE_SERVER_LOG.
start_update_server() {
  local dir="$build/server" python=/usr/bin/python3 http=0 https=0 pid ports
  [ -x "$python" ] || python=python3
  mkdir -p "$dir/root"
  # A server that outlived its script (killed without its trap) would hold the ports: stop it, but only if
  # the recorded process really is this build's server.
  if [ -f "$dir/server.pid" ]; then
    pid=$(cat "$dir/server.pid")
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "--root $dir/root"; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
  fi
  if [ -f "$dir/ports.json" ]; then
    ports=$("$python" -c 'import json, sys; p = json.load(open(sys.argv[1])); print(p["http"], p["https"])' \
      "$dir/ports.json" 2>/dev/null) && read -r http https <<<"$ports"
  fi
  : >"$dir/requests.log"
  : >"$dir/server.err"
  local attempt
  for attempt in 1 2; do
    rm -f "$dir/ports.json"
    "$python" "$top/tests/fixtures/update_server.py" --http-port "$http" --https-port "$https" \
      --cert "$build/certs/server.pem" --key "$build/certs/server.key" --root "$dir/root" \
      --log "$dir/requests.log" --ports-file "$dir/ports.json" --pid-file "$dir/server.pid" \
      </dev/null >>"$dir/server.err" 2>&1 &
    pid=$!
    for _ in $(seq 1 100); do
      [ -f "$dir/ports.json" ] || ! kill -0 "$pid" 2>/dev/null && break
      sleep 0.05
    done
    if [ -f "$dir/ports.json" ]; then
      started_pids+=("$pid")
      read -r CORVANE_HTTP_PORT CORVANE_HTTPS_PORT CORVANE_PROXY_PORT CORVANE_TINYPROXY_PORT \
        CORVANE_NGINX_HTTP_PORT CORVANE_NGINX_HTTPS_PORT <<<"$("$python" -c \
        'import json, sys; p = json.load(open(sys.argv[1])); print(*(p.get(k, "") or "-" for k in
          ("http", "https", "proxy", "tinyproxy", "nginx_http", "nginx_https")))' "$dir/ports.json")"
      export CORVANE_HTTP_PORT CORVANE_HTTPS_PORT CORVANE_PROXY_PORT CORVANE_TINYPROXY_PORT \
        CORVANE_NGINX_HTTP_PORT CORVANE_NGINX_HTTPS_PORT
      export CORVANE_SERVER_ROOT="$dir/root" CORVANE_SERVER_LOG="$dir/requests.log"
      return 0
    fi
    local status=0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || status=$?
    # 3: a remembered port is taken; any free ports will do.
    [ "$status" -eq 3 ] && [ "$attempt" -eq 1 ] || break
    http=0 https=0
  done
  echo "the update server did not start (see $dir/server.err)" >&2
  return 1
}

# Makes the prefix trust the build's test CA, so WinInet accepts the update server's certificate. Done once
# per prefix and CA: the marker holds the fingerprint of the CA that was added.
trust_test_ca() {
  local ca="$build/certs/ca.pem" marker="$WINEPREFIX/corvane-test-ca" fingerprint
  fingerprint=$(openssl x509 -in "$ca" -noout -fingerprint -sha256) || return 1
  if [ -f "$marker" ] && [ "$(cat "$marker")" = "$fingerprint" ]; then return 0; fi
  # Wine maps the Unix root to Z:, and the program sees no Unix paths.
  "$build/wine-run" "$build/bin/trust_root.exe" "Z:$ca" </dev/null || {
    echo "could not add the test CA to the prefix's root store" >&2
    return 1
  }
  echo "$fingerprint" >"$marker"
}

# Points the build's deployment hosts at the running local update server, expects the test publisher's
# signature on both installers, and rebuilds what that changes:
# the test and demo builds of Installer.exe fetch from it. Nothing is rebuilt when the ports are unchanged.
configure_for_local_server() {
  configure_and_build -DCORVANE_UPDATE_HOST="localhost:$CORVANE_HTTPS_PORT" \
    -DCORVANE_PARTNER_HOST="localhost:$CORVANE_HTTPS_PORT" -DCORVANE_REGION_HOST="localhost:$CORVANE_HTTPS_PORT" \
    -DCORVANE_QUILLORA_TOS_HOST="localhost:$CORVANE_HTTP_PORT" \
    -DCORVANE_PAGEWING_TOS_HOST="localhost:$CORVANE_HTTP_PORT" \
    -DCORVANE_QUILLORA_PUBLISHER="Corvane Test Code Signing" -DCORVANE_PAGEWING_PUBLISHER="Corvane Test Code Signing" \
    >/dev/null
}

# Publishes the signed sample installers and manifests that offer them on the running local server, as a
# release's servers would: what the demo installs.
publish_sample_products() {
  local root="$CORVANE_SERVER_ROOT" https="https://localhost:$CORVANE_HTTPS_PORT"
  mkdir -p "$root/installers" "$root/public/QLWin5" "$root/downloads/jp/download/xml/mgr/w-quillora/cn"
  cp "$build/installers/signed/QuilloraSetup.exe" "$build/installers/signed/setup.exe" "$root/installers/"
  cat >"$root/public/QLWin5/update.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<update>
  <release version="6.0 (100)">
    <executable url="$https/installers/QuilloraSetup.exe" length="$(stat -c %s "$root/installers/QuilloraSetup.exe")"/>
  </release>
</update>
XML
  local partner
  for partner in "" cn/; do
    cat >"$root/downloads/jp/download/xml/mgr/w-quillora/${partner}PagewingInstall.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<update>
  <release version="6.0.0.0">
    <executable url="$https/installers/setup.exe" length="$(stat -c %s "$root/installers/setup.exe")" params="/S"/>
  </release>
</update>
XML
  done
  printf 'US' >"$root/location-check"
}
