# Sourced by ./run: a private, sandboxed Wine prefix inside the build tree.
# A fresh prefix maps z: to / and links the user's folders to $HOME; the tests delete
# folders as root, so the prefix must reach nothing but its own drive_c and the build
# output mapped as t:.

: "${BUILD_DIR:?}"
# shellcheck source=wine-arch.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh"
WINE_ROOT="$BUILD_DIR/wine"
export WINEPREFIX="$WINE_ROOT/prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8
export HOME="$WINE_ROOT/home"
WINE_T_TARGET="$BUILD_DIR/$WINE_TEST_TREE"

wine_env_make_prefix() {
  mkdir -p "$HOME" "$WINE_T_TARGET"
  if [ ! -f "$WINE_ROOT/sandboxed" ]; then
    rm -rf "$WINEPREFIX"
    "$WINE" wineboot.exe -i >/dev/null 2>&1 || true
    wineserver -w
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
  fi
  wine_env_seal
  touch "$WINE_ROOT/sandboxed"
}

# Replace every way out of the prefix by something inside the build tree.
wine_env_seal() {
  local users="$WINEPREFIX/drive_c/users" link
  for link in "$users"/*/* ; do
    if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
  done
  for link in "$WINEPREFIX"/dosdevices/*; do
    case "$(basename "$link")" in
      c:) ;;
      *) rm -f "$link" ;;
    esac
  done
  ln -sfn "$WINE_T_TARGET" "$WINEPREFIX/dosdevices/t:"
}

wine_env_start() {
  wine_env_make_prefix
  if [ -z "${DISPLAY:-}" ]; then
    # The server picks a free display itself and writes its number: another X
    # server on this machine (even one in another root folder) cannot collide.
    local numberFile="$WINE_ROOT/xvfb-display"
    rm -f "$numberFile"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
    WINE_XVFB_PID=$!
    for _ in $(seq 100); do [ -s "$numberFile" ] && break; sleep 0.1; done
    export DISPLAY=":$(tr -d '[:space:]' < "$numberFile")"
  fi
  wineserver -p 2>/dev/null || true  # already running for this prefix: use it
  "$WINE" cmd /c exit >/dev/null 2>&1 || true
}

wine_env_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "${WINE_XVFB_PID:-}" ]; then kill "$WINE_XVFB_PID" 2>/dev/null || true; wait "$WINE_XVFB_PID" 2>/dev/null || true; fi
}
