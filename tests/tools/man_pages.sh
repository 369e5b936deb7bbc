#!/usr/bin/env bash
# Renders each manual page with man -l and checks it: no formatter warnings,
# the sections a reader looks for, and every long option of the program's own
# --help and every exit status it lists (so the page cannot fall behind the
# program).
#   usage: man_pages.sh PROGRAM PAGE [PROGRAM PAGE ...]
set -euo pipefail
export LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat QT_QPA_PLATFORM=
unset DISPLAY WAYLAND_DISPLAY
status=0
while [ $# -ge 2 ]; do
  program=$1 page=$2
  shift 2
  warnings=$(man --warnings -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || { echo "$page: $warnings"; status=1; }
  text=$(man -l "$page" 2>/dev/null | col -b)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section\$" <<<"$text" || { echo "$page: no $section section"; status=1; }
  done
  # --help and --version answer without a display.
  help=$("$program" --help) || { echo "$program --help failed"; status=1; }
  "$program" --version | grep -q '[0-9]\.[0-9]' || { echo "$program --version failed"; status=1; }
  for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
    [ "$option" = --help-all ] && continue
    grep -q -- "$option" <<<"$text" || { echo "$page: $option of --help is missing"; status=1; }
  done
  # Every exit status --help lists has its entry on the page.
  for code in $(sed -n '/^Exit status:/,$p' <<<"$help" | grep -oE '^  [0-9]+ ' || true); do
    grep -qE "^ +$code( |\$)" <<<"$text" || { echo "$page: exit status $code is missing"; status=1; }
  done
done
[ $status -eq 0 ] && echo "man pages: all pages render and cover their program's options"
exit $status
