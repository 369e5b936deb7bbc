#!/usr/bin/env bash
# run-vbs.sh WINE_RUN SCRIPT [ARGS...]: one VBScript test under wine's cscript.
# Wine's script host ends a script with a run-time error silently and with exit
# status 0, so a script passes only when its last line of output is "vbs-ok"
# (it prints that after its last check, and only with no check failed).
set -uo pipefail
wine_run=$1
# cscript takes a Linux path's leading "/" for an option: the script's Windows path.
script=$("$wine_run" winepath -w "$2" | tr -d '\r')
shift 2
# The loopback ports (VIZADAVU_PORTS_FILE's "NAME PORT" lines) go on as
# arguments: a script's own open of the file would lock it against the tests
# running beside it under wine.
ports=()
[ -z "${VIZADAVU_PORTS_FILE:-}" ] || read -ra ports <<<"$(tr '\n' ' ' <"$VIZADAVU_PORTS_FILE")"
out=$("$wine_run" cscript //nologo "$script" "$@" "${ports[@]}" 2>&1 | tr -d '\r')
status=$?
printf '%s\n' "$out"
[ "$status" -eq 0 ] || { echo "cscript exited with $status"; exit 1; }
[ "$(printf '%s\n' "$out" | tail -n 1)" = vbs-ok ] || { echo "no end marker: the script stopped early"; exit 1; }
