# Shared by the scripts: where the build lives and how its Wine prefix and display are brought up.
# Sourced, not run.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$top/build}

export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The interface language follows the locale the prefix's server starts with; tests compare English texts.
# Given to Wine only: the shell itself has no such locale generated.
locale=${CORVANE_LOCALE:-en_US.UTF-8}

started_pids=()

configure_and_build() {
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
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
}

# Xvfb on a free display number, unless a display is given. Remembers what it started.
start_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${1:-}" != "--private" ]; then return 0; fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      started_pids+=($!)
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
