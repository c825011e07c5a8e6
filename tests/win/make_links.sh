#!/usr/bin/env bash
# Lays out a tree with a symbolic link to a folder outside it, in the test prefix
# (Wine reports such a link as a reparse point, like a junction).
set -eu
base="$1/drive_c/remover-tests/links"
rm -rf "$base"
mkdir -p "$base/tree" "$base/target/sub"
echo precious > "$base/target/precious.txt"
echo deep > "$base/target/sub/deep.txt"
echo own > "$base/tree/own.txt"
ln -s ../target "$base/tree/link"
ln -s target "$base/grouplink"
