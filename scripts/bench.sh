#!/usr/bin/env bash
# Times the program's folder walk against its peers on identical fresh trees, in
# turn within each round: NSIS's RMDir /r under Wine and, on the Linux side, rm -rf
# of the same tree; beside them the walk as it runs on Windows, asking no names
# (the trees hold no links, whose targets that would delete under Wine). Two shapes: FILES files in FOLDERS folders, and FILES files in
# one folder. Each process's start is measured apart and subtracted. Then the
# wineserver requests each file costs, counted from a traced run of TRACE_FILES
# files against one of an empty tree; and the program's dialog removing a tree,
# watched from outside: how long it took at most to answer, and how many positions
# its progress bar showed.
#   FILES (default 20000), FOLDERS (default 2000), ROUNDS (default 3),
#   TRACE_FILES (default 500), RD=1 adds cmd /c rd /s /q (slow under Wine),
#   BASELINE=<another bench_walk.exe> times an earlier walk in the same turns,
#   DIALOG=0 leaves the dialog out.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
: "${BUILD_DIR:=$ROOT/build}"
FILES=${FILES:-20000}
FOLDERS=${FOLDERS:-2000}
ROUNDS=${ROUNDS:-3}
TRACE_FILES=${TRACE_FILES:-500}
RD=${RD:-0}
DIALOG=${DIALOG:-1}
BASELINE=${BASELINE:-}
source "$ROOT/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_make_prefix

bench="$WINEPREFIX/drive_c/bench"
rm -rf "$bench"
mkdir -p "$bench"
cd "$bench"  # a folder Wine reaches: the prefix maps no other
peers=(ours win)
[ -n "$BASELINE" ] && peers+=(base)
peers+=(nsis rm)
[ "$RD" = 1 ] && peers+=(rd)
for who in "${peers[@]}" nsis-empty; do mkdir -p "$bench/$who"; done
cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/bench_walk.exe" "$bench/ours/"
cp "$bench/ours/bench_walk.exe" "$bench/win/"
[ -n "$BASELINE" ] && cp "$BASELINE" "$bench/base/bench_walk.exe"
nsis_target=()
[ "$WINE_TEST_TREE" = win64 ] && nsis_target=(-DAMD64)
(cd "$bench/nsis" && makensis -V1 -NOCD "${nsis_target[@]}" "$ROOT/scripts/nsis_rmdir.nsi" >/dev/null)
cp "$bench/nsis/nsis_rmdir.exe" "$bench/nsis-empty/"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.4f\", $* }"; }
seconds() { local s; s=$(now); "$@" >/dev/null 2>&1 || true; calc "$(now) - $s"; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# lay_out SHAPE FOLDER FILES: "nested" spreads them over folders (ten a leaf at
# most, as FOLDERS does for FILES), "flat" puts them all in one.
lay_out() {
  local shape=$1 dir=$2 files=$3
  if [ "$shape" = nested ]; then
    python3 "$ROOT/scripts/make_tree.py" "$dir" "$files" "$(( files * FOLDERS / FILES ))" >/dev/null
  else
    python3 - "$dir" "$files" <<'EOF'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
os.makedirs(root, exist_ok=True)
for k in range(files):
    with open(os.path.join(root, "f%05d.dat" % k), "wb") as f:
        f.write(b"x" * 100)
EOF
  fi
}

# The command that removes `who`'s tree, and the one that only starts its process.
remove_cmd() {
  case $1 in
    ours | base) echo "$WINE C:\\bench\\$1\\bench_walk.exe C:\\bench\\$1\\tree" ;;
    win) echo "$WINE C:\\bench\\win\\bench_walk.exe C:\\bench\\win\\tree windows" ;;
    nsis) echo "$WINE C:\\bench\\nsis\\nsis_rmdir.exe" ;;
    rd) echo "$WINE cmd /c rd /s /q C:\\bench\\rd\\tree" ;;
    rm) echo "rm -rf $bench/rm/tree" ;;
  esac
}
start_cmd() {
  case $1 in
    ours | base | win) echo "$WINE C:\\bench\\$1\\bench_walk.exe" ;;
    nsis) echo "$WINE C:\\bench\\nsis-empty\\nsis_rmdir.exe" ;;
    rd) echo "$WINE cmd /c exit" ;;
    rm) echo "rm -rf $bench/rm/none" ;;
  esac
}
label() {
  case $1 in
    ours) echo "remover's walk" ;; win) echo "the same, Windows' way" ;; base) echo "the walk of BASELINE" ;; nsis) echo "NSIS RMDir /r" ;;
    rd) echo "cmd /c rd /s /q" ;; rm) echo "rm -rf (Linux)" ;;
  esac
}

# Requests to the wineserver a file costs: a server of its own traces every
# request; a run on TRACE_FILES files less one on an empty tree, divided.
requests() {  # who shape
  local who=$1 shape=$2 before middle after
  [ "$who" = rm ] && { echo "-"; return; }
  local trace="$bench/trace.txt"
  count() { grep -E '^[0-9a-f]{4}: [a-z_]+\(' "$trace" | grep -cvE '^[0-9a-f]{4}: [a-z_]+\(\) = ' || true; }
  mkdir -p "$bench/$who/tree"
  before=$(count); $(remove_cmd "$who") >/dev/null 2>&1 || true; middle=$(count)
  lay_out "$shape" "$bench/$who/tree" "$TRACE_FILES"
  $(remove_cmd "$who") >/dev/null 2>&1 || true; after=$(count)
  awk "BEGIN { printf \"%.2f\", (($after - $middle) - ($middle - $before)) / $TRACE_FILES }"
}
declare -A perfile
wineserver -f -d1 -p 2>"$bench/trace.txt" &
sleep 1
"$WINE" cmd /c exit >/dev/null 2>&1 || true
for shape in nested flat; do
  for who in "${peers[@]}"; do
    [ "$who" = rd ] && continue
    perfile[$who.$shape]=$(requests "$who" "$shape")
  done
done
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
rm -f "$bench/trace.txt"

wine_env_start
# Start-up cost of each peer's process, warm, median of five.
declare -A start
for who in "${peers[@]}"; do
  runs=()
  for _ in 1 2 3 4 5; do runs+=("$(seconds $(start_cmd "$who"))"); done
  start[$who]=$(median "${runs[@]}")
done

declare -A times
for round in $(seq "$ROUNDS"); do
  for shape in nested flat; do
    for who in "${peers[@]}"; do lay_out "$shape" "$bench/$who/tree" "$FILES"; done
    sync
    # Each round starts with another peer: none always meets the cache first.
    n=${#peers[@]}
    for i in $(seq 0 $((n - 1))); do
      who=${peers[$(( (i + round) % n ))]}
      times[$who.$shape]+=" $(calc "$(seconds $(remove_cmd "$who")) - ${start[$who]}")"
      if [ -e "$bench/$who/tree" ]; then
        echo "warning: $who left $(find "$bench/$who/tree" | wc -l) entries in round $round ($shape)"
      fi
    done
  done
done

printf '\nRemoving %s files under Wine, median of %s rounds taken in turn (process start subtracted);\n' "$FILES" "$ROUNDS"
printf 'per file: that time over the files; requests: to the wineserver, per file (traced, %s files)\n' "$TRACE_FILES"
for shape in nested flat; do
  [ "$shape" = nested ] && printf '\n%s files in %s folders:\n' "$FILES" "$FOLDERS" || printf '\n%s files in one folder:\n' "$FILES"
  # shellcheck disable=SC2086
  m_ours=$(median ${times[ours.$shape]})
  for who in "${peers[@]}"; do
    # shellcheck disable=SC2086
    m=$(median ${times[$who.$shape]})
    printf '  %-22s %7.2f s  %6.0f us/file  %6s requests/file  %5.2fx remover'"'"'s time  (rounds:%s)\n' \
      "$(label "$who")" "$m" "$(calc "$m * 1000000 / $FILES")" "${perfile[$who.$shape]:--}" "$(calc "$m / $m_ours")" \
      "$(printf ' %.2f' ${times[$who.$shape]})"
  done
done

[ "$DIALOG" = 1 ] || exit 0
# The dialog while it removes a tree of the same size: the longest it took to
# answer, and how many positions its progress bar showed.
dialog="$bench/dialog"
mkdir -p "$dialog/app"
python3 "$ROOT/scripts/make_tree.py" "$dialog/app/data" "$FILES" "$FOLDERS" >/dev/null
cp "$BUILD_DIR/$WINE_TEST_TREE/remover.exe" "$dialog/app/"
cp "$BUILD_DIR/$WINE_TEST_TREE/tests/win/dialog_bench.exe" "$dialog/"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<Install><Setup DisplayName="Bench"/></Install>\n' > "$dialog/app/Bench.xml"
printf '\n  %-22s %s\n' "the dialog meanwhile" \
  "$("$WINE" 'C:\bench\dialog\dialog_bench.exe' 'C:\bench\dialog\app\remover.exe' Bench.xml | tr -d '\r')"
# The copy that removed the program deletes itself from the temp folder a moment
# later; stopping Wine first would leave it there for the tests to find.
for _ in $(seq 150); do
  compgen -G "$WINEPREFIX/drive_c/users/*/Temp/Drevik.Remover.*" >/dev/null || break
  sleep 0.1
done
rm -rf "$bench"
