# Sourced after wine-env.sh: the sample installation that the demo and the silent
# benchmark lay out in the prefix. `sample_install REMOVER_EXE` lays it out afresh:
# the program, a module uninstaller (the tests' stand-in), a Desktop shortcut, a
# Start-menu group, the manifest naming them, and the Uninstall key; callers add data.
app_win='C:\Program Files (x86)\Foo Client'
app="$WINEPREFIX/drive_c/Program Files (x86)/Foo Client"
desktop="$WINEPREFIX/drive_c/users/$(whoami)/Desktop"
programs="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Foo'

sample_install() {
  local child="$BUILD_DIR/$WINE_TEST_TREE/tests/win/test_child.exe"
  rm -rf "$app" "$desktop/Foo.lnk" "$programs/Foo 客户端"
  mkdir -p "$app/bin" "$app/data" "$desktop" "$programs/Foo 客户端"
  cp "$1" "$app/remover.exe"
  if [ -f "$child" ]; then cp "$child" "$app/bin/unins.exe"; fi
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
  "$WINE" reg add "$key" /v DisplayName /d 'Foo' /f $WINE_REG_VIEW >/dev/null 2>&1
}
