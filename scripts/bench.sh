#!/usr/bin/env bash
# Times the program's folder walk against two peers on identical fresh trees, in the
# same run: NSIS's RMDir /r and Wine's `cmd /c rd /s /q`. Each peer's cost of
# starting a process is measured separately and subtracted. Then the program's
# dialog removes a tree of that size, watched from outside: how long it once took
# at most to answer, and how many positions its progress bar showed.
#   FILES (default 20000), FOLDERS (default 2000), ROUNDS (default 3)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
: "${BUILD_DIR:=$ROOT/build}"
FILES=${FILES:-20000}
FOLDERS=${FOLDERS:-2000}
ROUNDS=${ROUNDS:-3}
source "$ROOT/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start

bench="$WINEPREFIX/drive_c/bench"
rm -rf "$bench"
mkdir -p "$bench/ours" "$bench/nsis" "$bench/rd" "$bench/nsis-empty"
cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/bench_walk.exe" "$bench/ours/"
nsis_target=()
[ "$WINE_TEST_TREE" = win64 ] && nsis_target=(-DAMD64)
(cd "$bench/nsis" && makensis -V1 -NOCD "${nsis_target[@]}" "$ROOT/scripts/nsis_rmdir.nsi" >/dev/null)
cp "$bench/nsis/nsis_rmdir.exe" "$bench/nsis-empty/"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.4f\", $* }"; }
seconds() { local s; s=$(now); "$@" >/dev/null 2>&1 || true; calc "$(now) - $s"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# Start-up cost of each peer's process, warm, median of five.
start_ours=() start_nsis=() start_rd=()
for _ in 1 2 3 4 5; do
  start_ours+=("$(seconds "$WINE" 'C:\bench\ours\bench_walk.exe')")
  start_nsis+=("$(seconds "$WINE" 'C:\bench\nsis-empty\nsis_rmdir.exe')")
  start_rd+=("$(seconds "$WINE" cmd /c exit)")
done
s_ours=$(median "${start_ours[@]}"); s_nsis=$(median "${start_nsis[@]}"); s_rd=$(median "${start_rd[@]}")

ours=() nsis=() rd=() inproc=()
for round in $(seq "$ROUNDS"); do
  for who in ours nsis rd; do python3 "$ROOT/scripts/make_tree.py" "$bench/$who/tree" "$FILES" "$FOLDERS" >/dev/null; done
  sync
  t=$(now); inproc+=("$("$WINE" 'C:\bench\ours\bench_walk.exe' 'C:\bench\ours\tree' | tr -d '\r')"); ours+=("$(calc "$(now) - $t - $s_ours")")
  nsis+=("$(calc "$(seconds "$WINE" 'C:\bench\nsis\nsis_rmdir.exe') - $s_nsis")")
  rd+=("$(calc "$(seconds "$WINE" cmd /c rd /s /q 'C:\bench\rd\tree') - $s_rd")")
  for who in ours nsis rd; do
    [ -e "$bench/$who/tree" ] && echo "warning: $who left $(find "$bench/$who/tree" | wc -l) entries in round $round"
  done
done
m_ours=$(median "${ours[@]}"); m_nsis=$(median "${nsis[@]}"); m_rd=$(median "${rd[@]}"); m_in=$(median "${inproc[@]}")
printf '\nRemoving %s files in %s folders under Wine, median of %s rounds (process start subtracted):\n' "$FILES" "$FOLDERS" "$ROUNDS"
printf '  %-28s %7.2f s   (in-process %.2f s; start %.2f s)\n' "remover's RemoveFolderTree" "$m_ours" "$m_in" "$s_ours"
printf '  %-28s %7.2f s   (start %.2f s)   ours is %.2fx faster\n' "NSIS RMDir /r" "$m_nsis" "$s_nsis" "$(calc "$m_nsis / $m_ours")"
printf '  %-28s %7.2f s   (start %.2f s)   ours is %.2fx faster\n' "cmd /c rd /s /q" "$m_rd" "$s_rd" "$(calc "$m_rd / $m_ours")"

# The dialog while it removes a tree of the same size: the longest it took to
# answer, and how many positions its progress bar showed.
dialog="$bench/dialog"
mkdir -p "$dialog/app"
python3 "$ROOT/scripts/make_tree.py" "$dialog/app/data" "$FILES" "$FOLDERS" >/dev/null
cp "$BUILD_DIR/$WINE_TEST_TREE/remover.exe" "$dialog/app/"
cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/dialog_bench.exe" "$dialog/"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<Install><Setup DisplayName="Bench"/></Install>\n' > "$dialog/app/Bench.xml"
printf '  %-28s %s\n' "the dialog meanwhile" \
  "$("$WINE" 'C:\bench\dialog\dialog_bench.exe' 'C:\bench\dialog\app\remover.exe' Bench.xml | tr -d '\r')"
# The copy that removed the program deletes itself from the temp folder a moment
# later; stopping Wine first would leave it there for the tests to find.
for _ in $(seq 150); do
  compgen -G "$WINEPREFIX/drive_c/users/*/Temp/Drevik.Remover.*" >/dev/null || break
  sleep 0.1
done
rm -rf "$bench"
