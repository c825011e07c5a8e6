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

# Other spellings of the Desktop for the program-folder guard: a drive letter onto
# the users' root and a folder linked to the profile. Both stay inside the prefix.
users="$1/drive_c/users"
user=$(cd "$users" && for d in *; do [ "$d" != Public ] && [ -d "$d/Desktop" ] && echo "$d"; done | head -n 1)
ln -sfn ../drive_c/users "$1/dosdevices/y:"
rm -f "$1/drive_c/linkparent"
ln -s "users/$user" "$1/drive_c/linkparent"

# A folder chain a thousand levels deep, for the program's walk; Wine needs most of a
# minute to make it, mkdir a moment.
seed="$1/drive_c/remover-tests/deep-seed"
rm -rf "$seed"
chain=$(printf 'd/%.0s' $(seq 1000))
mkdir -p "$seed/$chain"
echo bottom > "$seed/${chain}bottom.txt"
