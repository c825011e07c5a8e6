#!/usr/bin/env bash
# Starts swapper.py for the prefix $1 in the background, holding none of ctest's pipes.
swaps="$1/drive_c/remover-tests/swaps"
rm -rf "$swaps" && mkdir -p "$swaps"
setsid python3 "$(dirname "$0")/swapper.py" "$1" </dev/null >/dev/null 2>&1 &
