#!/usr/bin/env bash
# Times a silent removal (`remover.exe /S Foo.xml`, process start to exit) against the
# program of the last release before /S (commit 000f961), from pressing OK to its
# completion message, on identical fresh typical installations, in the same run.
# A driver inside Wine (bench_silent_driver.cpp) does the timing, so starting Wine
# from the shell counts in neither figure.
# Then the same silent removal on a machine with ENTRIES other Uninstall entries, one
# of them an HKCU entry with a 64 KB unquoted UninstallString ("a a a ..."), against
# none: what reading the other products costs a run.
#   ROUNDS (default 5), DATA_FILES (default 200), ENTRIES (default 3000)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
: "${BUILD_DIR:=$ROOT/build}"
ROUNDS=${ROUNDS:-5}
DATA_FILES=${DATA_FILES:-200}
ENTRIES=${ENTRIES:-3000}
BASELINE_COMMIT=000f961
source "$ROOT/scripts/wine-env.sh"

if [ "$WINE_TEST_TREE" = win64 ]; then
  toolchain="$ROOT/cmake/mingw-x86_64.cmake" cxx=x86_64-w64-mingw32-g++-posix
else
  toolchain="$ROOT/cmake/mingw-i686.cmake" cxx=i686-w64-mingw32-g++-posix
fi

# The old program, built from its own sources with today's toolchain file (the
# release had none for 64-bit Windows).
src="$BUILD_DIR/baseline-src" old_build="$BUILD_DIR/baseline"
if [ "$(git -C "$src" rev-parse HEAD 2>/dev/null)" != "$(git -C "$ROOT" rev-parse "$BASELINE_COMMIT")" ]; then
  git -C "$ROOT" worktree remove --force "$src" 2>/dev/null || rm -rf "$src"
  git -C "$ROOT" worktree prune
  git -C "$ROOT" worktree add --quiet --detach "$src" "$BASELINE_COMMIT"
fi
echo "== building the program as of $BASELINE_COMMIT"
cmake -S "$src" -B "$old_build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=MinSizeRel \
      -DBUILD_TESTING=OFF >/dev/null
cmake --build "$old_build" --target remover -j"$(nproc)" >/dev/null
driver="$BUILD_DIR/bench_silent_driver.exe"
"$cxx" -O2 -std=c++17 -municode -static -o "$driver" "$ROOT/scripts/bench_silent_driver.cpp"

holder=""
stop() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; wait "$holder" 2>/dev/null || true; fi
  wine_env_stop
}
trap stop EXIT
wine_env_start

source "$ROOT/scripts/sample-install.sh"
bench="$WINEPREFIX/drive_c/bench-silent"
rm -rf "$bench"
mkdir -p "$bench"
cp "$driver" "$bench/driver.exe"
drive() { "$WINE" 'C:\bench-silent\driver.exe' "$@" | tr -d '\r'; }
# Wine's desktop stays up, as Windows' does, so that no run pays for starting it.
"$WINE" 'C:\bench-silent\driver.exe' desktop >/dev/null 2>&1 &
holder=$!

# The sample installation (scripts/sample-install.sh) with a data folder: a module uninstaller, shortcuts,
# a Start-menu group and the Uninstall key.
install() {
  sample_install "$1"
  local i
  for i in $(seq "$DATA_FILES"); do
    mkdir -p "$app/data/part$((i % 8))"
    echo "sample data $i" > "$app/data/part$((i % 8))/file$i.dat"
  done
  sync
}

# What a removal left of the installation; the old program's own file stays by design.
leftovers() {
  local left=()
  [ -e "$app/data" ] && left+=("data ($(find "$app/data" | wc -l) entries)")
  [ -e "$app/bin" ] && left+=(bin)
  [ "$1" = new ] && [ -e "$app" ] && left+=("program folder")
  [ -e "$desktop/Foo.lnk" ] && left+=("Desktop shortcut")
  [ -e "$programs/Foo 客户端" ] && left+=("Start-menu group")
  "$WINE" reg query "$key" $WINE_REG_VIEW >/dev/null 2>&1 && left+=("registry key")
  [ ${#left[@]} -gt 0 ] && echo "warning: $1 program left: ${left[*]}"
  return 0
}

# The copy that removes the new program's file works on after the program ends
# (usually done by the time the driver's output closes, as the copy holds it too);
# the next round starts once it is done.
settle() {
  local _ temp dir
  for _ in $(seq 100); do
    if [ ! -e "$app" ]; then
      temp=0
      for dir in "$WINEPREFIX"/drive_c/users/*/Temp "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp "$WINEPREFIX/drive_c/windows/temp"; do
        compgen -G "$dir/Drevik.Remover.*" >/dev/null && temp=1
      done
      [ $temp = 0 ] && return 0
    fi
    sleep 0.1
  done
  echo "warning: the self-removal was not done after 10 s"
}

calc() { awk "BEGIN { printf \"%.4f\", $* }"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
field() { echo "$1" | awk -v n="$2" '{print $n}'; }

# Warm: one start before anything is timed.
drive start >/dev/null

starts=() old=() new=()
for round in $(seq "$ROUNDS"); do
  starts+=("$(field "$(drive start)" 1)")

  install "$old_build/remover.exe"
  result=$(drive ok "$app_win\\remover.exe" Foo.xml) || { echo "round $round: the old program's run failed"; exit 1; }
  old+=("$(field "$result" 1)")
  leftovers old

  install "$BUILD_DIR/$WINE_TEST_TREE/remover.exe"
  result=$(drive silent "$app_win\\remover.exe" Foo.xml) || { echo "round $round: the silent run failed"; exit 1; }
  new+=("$(field "$result" 1)")
  [ "$(field "$result" 2)" = 0 ] || echo "warning: round $round: the silent run ended with $(field "$result" 2)"
  settle
  leftovers new
  printf 'round %s: OK to message %.3f s, silent start to exit %.3f s\n' "$round" "${old[-1]}" "${new[-1]}"
done

# Other products: half with a quoted uninstaller in their own folder, half Windows
# Installer's, each with its install location; and one any user may write whose
# unquoted command is 64 KB of words.
products="$WINEPREFIX/drive_c/bench-products"
entries_reg="$BUILD_DIR/bench-entries.reg" entries_drop="$BUILD_DIR/bench-entries-drop.reg"
uninstall='Software\Microsoft\Windows\CurrentVersion\Uninstall'
value() { local v=${2//\\/\\\\}; printf '"%s"="%s"\n' "$1" "${v//\"/\\\"}"; }  # a .reg text value
{
  echo REGEDIT4
  for i in $(seq "$ENTRIES"); do
    mkdir -p "$products/Vendor $((i % 50))/Product $i"
    folder="C:\bench-products\Vendor $((i % 50))\Product $i"
    printf '\n[HKEY_LOCAL_MACHINE\\%s\\RemoverBench%s]\n' "$uninstall" "$i"
    if [ $((i % 2)) = 0 ]; then
      value UninstallString "\"$folder\unins000.exe\""
    else
      value UninstallString "$(printf 'MsiExec.exe /X{%08d-0000-0000-0000-000000000000}' "$i")"
    fi
    value InstallLocation "$folder"
  done
  printf '\n[HKEY_CURRENT_USER\\%s\\RemoverBenchLong]\n' "$uninstall"
  value UninstallString "$(head -c 65536 /dev/zero | tr '\0' 'a' | sed 's/aa/a /g')"
} > "$entries_reg"
{
  echo REGEDIT4
  for i in $(seq "$ENTRIES"); do printf '\n[-HKEY_LOCAL_MACHINE\\%s\\RemoverBench%s]\n' "$uninstall" "$i"; done
  printf '\n[-HKEY_CURRENT_USER\\%s\\RemoverBenchLong]\n' "$uninstall"
} > "$entries_drop"
cp "$entries_reg" "$entries_drop" "$bench/"
entries() { "$WINE" regedit /s "C:\\bench-silent\\$1" >/dev/null 2>&1; }

plain=() many=()
for set in plain many; do
  [ $set = many ] && entries bench-entries.reg
  for round in $(seq "$ROUNDS"); do
    install "$BUILD_DIR/$WINE_TEST_TREE/remover.exe"
    result=$(drive silent "$app_win\\remover.exe" Foo.xml) || { echo "the silent run failed"; exit 1; }
    [ "$(field "$result" 2)" = 0 ] || echo "warning: the silent run ended with $(field "$result" 2)"
    if [ $set = plain ]; then plain+=("$(field "$result" 1)"); else many+=("$(field "$result" 1)"); fi
    settle
    leftovers new
  done
done
entries bench-entries-drop.reg
rm -rf "$app" "$bench" "$products"

m_start=$(median "${starts[@]}"); m_old=$(median "${old[@]}"); m_new=$(median "${new[@]}")
m_plain=$(median "${plain[@]}"); m_many=$(median "${many[@]}")
printf '\nTypical removal (module uninstaller, %s data files, 2 shortcuts, a group, the Uninstall key)\n' "$DATA_FILES"
printf 'under Wine (%s build), median of %s rounds:\n' "$WINE_TEST_TREE" "$ROUNDS"
printf '  %-46s %7.3f s\n' "as of $BASELINE_COMMIT: OK to the completion message" "$m_old"
printf '  %-46s %7.3f s\n' "now: remover.exe /S, process start to exit" "$m_new"
printf '  %-46s %7.2f   (bar: 1.30)\n' "ratio silent / OK-to-message" "$(calc "$m_new / $m_old")"
printf '  %-46s %7.3f s\n' "start and end of a program that does nothing" "$m_start"
printf '\nThe same silent removal with %s other Uninstall entries (one of them 64 KB, unquoted, in HKCU)\n' "$ENTRIES"
printf 'against none, median of %s rounds each:\n' "$ROUNDS"
printf '  %-46s %7.3f s\n' "no other entries" "$m_plain"
printf '  %-46s %7.3f s\n' "$ENTRIES other entries" "$m_many"
printf '  %-46s %7.3f s   (bar: under 1 s)\n' "added by the entries" "$(calc "$m_many - $m_plain")"
