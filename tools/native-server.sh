#!/usr/bin/env bash
# A native Linux server for the length of a ctest fixture (the Windows build's
# tests under wine reach it on 127.0.0.1).
#   native-server.sh start PORTS_FILE PROGRAM [ARGS...]
#     runs PROGRAM ARGS... in the background, away from ctest's
#     output, and returns once the program has written PORTS_FILE (it must do
#     so in one rename when its listeners are up) or fails after 20 s;
#   native-server.sh stop PORTS_FILE
#     ends that program (SIGTERM, then SIGKILL after 5 s).
set -euo pipefail
command=$1 file=$2
pidfile=$file.pid
stop() {
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$pidfile" "$file" "$file.log"
}
case $command in
  start)
    program=$3
    shift 2
    if [ ! -x "$program" ]; then
      echo "native server $program is missing: build the Linux target first, e.g." >&2
      echo "  cmake --preset linux && cmake --build --preset linux --target $(basename "$program")" >&2
      exit 1
    fi
    stop
    rm -f "$file"
    mkdir -p "$(dirname "$file")"
    setsid "$@" </dev/null >"$file.log" 2>&1 &
    echo $! >"$pidfile"
    for _ in $(seq 200); do
      [ -f "$file" ] && { cat "$file"; exit 0; }
      kill -0 "$(cat "$pidfile")" 2>/dev/null || break
      sleep 0.1
    done
    echo "native server $program did not start:" >&2
    cat "$file.log" >&2
    stop
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: native-server.sh start|stop PORTS_FILE ..." >&2; exit 2 ;;
esac
