#!/usr/bin/env bash
# The test prefix must reach nothing of the host: no drive mapped to / or to a
# home folder, and the user's shell folders real folders inside the prefix.
set -u
prefix=$(readlink -f "$1"); home_real=$(readlink -f "$2")
fail=0
for drive in "$prefix"/dosdevices/*; do
  [ -L "$drive" ] || continue
  target=$(readlink -f "$drive")
  [ "$target" = / ] && { echo "drive $(basename "$drive") is the root folder"; fail=1; }
  case "$home_real/" in "$target"/*) echo "drive $(basename "$drive") reaches the home folder: $target"; fail=1 ;; esac
  case "$prefix" in "$target"/*) echo "drive $(basename "$drive") contains the prefix itself: $target"; fail=1 ;; esac
done
[ -e "$prefix/dosdevices/z:" ] && { echo "z: exists"; fail=1; }
for folder in "$prefix"/drive_c/users/*/*; do
  [ -L "$folder" ] && { echo "user folder $folder is a link to $(readlink -f "$folder")"; fail=1; }
done
[ $fail -eq 0 ] && echo "sandbox sealed: $(ls "$prefix/dosdevices" | tr '\n' ' ')"
exit $fail
