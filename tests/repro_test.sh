#!/usr/bin/env bash
# The program again from a copy of the sources, built in another folder: byte for byte
# the one the tests run. Only remover.exe is built, without the tests.
#   repro_test.sh SOURCES TOOLCHAIN_FILE BUILT_EXE WORK_FOLDER
set -euo pipefail
src=$1 toolchain=$2 exe=$3 work=$4
rm -rf "$work"
mkdir -p "$work/sources"
tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/sources" -xf -
# The copy lies where git may not reach: the commit's time is given as the build gives it.
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
cmake -S "$work/sources" -B "$work/tree" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF >/dev/null
cmake --build "$work/tree" --target remover -j2 >/dev/null
sha256sum "$exe" "$work/tree/remover.exe"
cmp "$exe" "$work/tree/remover.exe" || {
  echo "differ (a build tree configured before the last commit keeps that commit's time stamp until cmake runs again)"
  exit 1
}
rm -rf "$work"
