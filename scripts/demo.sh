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

app_win='C:\Program Files (x86)\Foo Client'
app="$WINEPREFIX/drive_c/Program Files (x86)/Foo Client"
desktop="$WINEPREFIX/drive_c/users/$(whoami)/Desktop"
programs="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
rm -rf "$app"
mkdir -p "$app/bin" "$app/data" "$desktop" "$programs/Foo 客户端"
cp "$BUILD_DIR/$WINE_TEST_TREE/remover.exe" "$app/"
[ -f "$BUILD_DIR/$WINE_TEST_TREE/tests/win/test_child.exe" ] && cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/test_child.exe" "$app/bin/unins.exe"
echo "sample data" > "$app/data/readme.txt"
echo "shortcut" > "$desktop/Foo.lnk"
echo "shortcut" > "$programs/Foo 客户端/Foo.lnk"
cat > "$app/Foo.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Install>
  <Setup DisplayName="Foo 客户端"/>
  <Module uninstall="unins.exe" dir="bin" uninstallparam="/quiet">
    <ShortCut root="DESKTOP" link="Foo"/>
    <ShortCut root="PROGRAMS" group="Foo 客户端" link="Foo"/>
  </Module>
</Install>
XML
"$WINE" reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Foo' /v DisplayName /d 'Foo' /f $WINE_REG_VIEW >/dev/null 2>&1

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
