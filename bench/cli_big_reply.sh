#!/usr/bin/env bash
# The vizadavu program against curl on one big reply from the same loopback
# server: `vizadavu -p -g URL -o FILE` and `curl -o FILE URL`, each measured
# with /usr/bin/time (wall time, peak resident memory), the files compared with
# the reply, and the targets checked: peak memory <= 2.5 x the reply size, time
# <= the control's 1 s pause + 2 x curl's time.
#   usage: bench/cli_big_reply.sh [PROGRAM [MIB]]   (defaults: build/vizadavu, 300)
set -euo pipefail
program=$(realpath "${1:-build/vizadavu}")
mib=${2:-300}
dir=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

head -c $((mib << 20)) /dev/urandom >"$dir/reply.bin"
python3 -u -m http.server --bind 127.0.0.1 --directory "$dir" 0 >"$dir/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do
  port=$(sed -n 's/.* port \([0-9]*\).*/\1/p' "$dir/server.log" | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
url="http://127.0.0.1:$port/reply.bin"

measure() {  # name command...: prints "seconds kilobytes"
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$dir/$name.time" "$@" >/dev/null
  cmp -s "$dir/reply.bin" "$dir/$name.out" || { echo "$name: the reply arrived changed"; exit 1; }
  rm -f "$dir/$name.out"
  cat "$dir/$name.time"
}
read -r curl_s curl_kb < <(measure curl curl -s -o "$dir/curl.out" "$url")
read -r viz_s viz_kb < <(measure vizadavu "$program" -p -g "$url" -o "$dir/vizadavu.out")

python3 - "$mib" "$curl_s" "$curl_kb" "$viz_s" "$viz_kb" <<'PY'
import sys
mib, curl_s, curl_kb, viz_s, viz_kb = int(sys.argv[1]), *map(float, sys.argv[2:])
memory_target = 2.5 * mib * 1024
time_target = 1 + 2 * curl_s
print(f"reply {mib} MiB from a loopback server")
print(f"curl      {curl_s:6.2f} s  {curl_kb / 1024:8.1f} MiB peak")
print(f"vizadavu  {viz_s:6.2f} s  {viz_kb / 1024:8.1f} MiB peak")
ok_memory = viz_kb <= memory_target
ok_time = viz_s <= time_target
print(f"peak memory <= {memory_target / 1024:.0f} MiB (2.5 x reply): {'met' if ok_memory else 'MISSED'}")
print(f"time <= {time_target:.2f} s (1 s pause + 2 x curl): {'met' if ok_time else 'MISSED'}")
sys.exit(0 if ok_memory and ok_time else 1)
PY
