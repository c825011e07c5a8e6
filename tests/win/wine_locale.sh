#!/usr/bin/env bash
# wine_locale.sh LOCALE RUNNER PROGRAM [ARGS...]: runs a test program through the
# project's Wine runner (scripts/wine-exec) under another Unix locale. Wine gives each
# process the ANSI code page of its Unix locale and hands its Unix environment, not its
# Windows one, to the processes it starts; the runner pins LC_ALL, so this runs the
# runner's own text with only that line changed (as itself, so it finds its folder).
# Its sandbox check still decides whether anything runs.
set -eu
locale=$1 runner=$2
shift 2
script=$(sed "s|^export LC_ALL=.*|export LC_ALL=$locale|" "$runner")
exec sh -c "$script" "$runner" "$@"
