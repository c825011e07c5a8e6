#!/usr/bin/env bash
# Lays out a sample installation in the sandboxed Wine prefix and starts remover.exe
# there. Without a display it runs under Xvfb in a Wine virtual desktop and saves
# screenshots instead. DPI=144 draws at that scale (HKCU\Control Panel\Desktop
# LogPixels, restored afterwards) and names the screenshots after it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
: "${BUILD_DIR:=$ROOT/build}"
source "$ROOT/scripts/wine-env.sh"
headless=0
[ -z "${DISPLAY:-}" ] && headless=1
trap wine_env_stop EXIT
wine_env_start

source "$ROOT/scripts/sample-install.sh"
sample_install "$BUILD_DIR/$WINE_TEST_TREE/remover.exe"
echo "sample data" > "$app/data/readme.txt"

echo "== sample installation: $app_win (manifest Foo.xml)"
if [ $headless -eq 0 ]; then
  echo "== starting remover.exe on $DISPLAY; answer its dialog"
  (cd "$app" && "$WINE" "$app_win\\remover.exe" Foo.xml)
  exit 0
fi

shots="$BUILD_DIR/screenshots"
mkdir -p "$shots"
suffix="" size=640x400
if [ -n "${DPI:-}" ]; then
  suffix="-${DPI}dpi" size=960x600
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1
  trap '"$WINE" reg delete "HKCU\\Control Panel\\Desktop" /v LogPixels /f >/dev/null 2>&1; wine_env_stop' EXIT
  wineserver -k; wineserver -w; wineserver -p
fi
"$WINE" explorer /desktop=remover,$size "$app_win\\remover.exe" Foo.xml >/dev/null 2>&1 &
sleep 4
import -window root -crop $size+0+0 "$shots/dialog$suffix.png"
[ -n "${DPI:-}" ] && { echo "== screenshot at $DPI DPI: $shots/dialog$suffix.png"; exit 0; }
cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/demo_driver.exe" "$WINEPREFIX/drive_c/demo_driver.exe"
"$WINE" explorer /desktop=remover,640x400 'C:\demo_driver.exe' >/dev/null 2>&1 || true
sleep 2
import -window root -crop 640x400+0+0 "$shots/about.png"
echo "== no display: ran under Xvfb; screenshots in $shots"
ls -1 "$shots"
