#!/usr/bin/env bash
# The vizadavu program against the curl command on one big reply from the same
# loopback reply server: `vizadavu -p -g URL -o FILE` and `curl -o FILE URL`,
# interleaved (PAIRS pairs, default 6, the order alternating), each a fresh
# process measured with /usr/bin/time (wall time, peak resident memory), each
# file checked against the reply size and the first file's checksum. Prints one
# JSON line per pair for bench/table.py, then, on standard error, that table's
# two rows for them: the median over the pairs of (vizadavu's time - the
# control's 1 s pause) / curl's time (target <= 2), and vizadavu's peak memory
# (target <= 2.5 x the reply); exits 1 when either is missed.
#   usage: bench/cli_big_reply.sh [PROGRAM [MIB [SERVER_URL]]]
#   (defaults: build/vizadavu, 300, a vizadavu_bench_server started from
#    build-bench/ for the duration)
set -euo pipefail
program=$(realpath "${1:-build/vizadavu}")
mib=${2:-300}
base=${3:-}
pairs=${PAIRS:-6}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

if [ -z "$base" ]; then
  exec 3> >(exec build-bench/bench/vizadavu_bench_server >"$dir/server.url")
  for _ in $(seq 100); do
    [ -s "$dir/server.url" ] && break
    sleep 0.1
  done
  base=$(cat "$dir/server.url")
fi
url="$base/$((mib << 20))"

# Runs one side, checks its file against the reply's size and the checksum of
# the first file, and removes it at once: each run then starts with the
# previous run's file gone, so neither side inherits the other's page cache
# (with both files kept until the pair ended, whichever ran second was slower).
measure() {  # name command...: leaves "seconds kilobytes" in $dir/name.time
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$dir/$name.time" "$@" >/dev/null
  [ "$(stat -c %s "$dir/$name.out")" -eq $((mib << 20)) ] ||
    { echo "$name: the reply arrived short" >&2; exit 1; }
  local sum
  sum=$(cksum <"$dir/$name.out")
  [ -s "$dir/sum" ] || echo "$sum" >"$dir/sum"
  [ "$sum" = "$(cat "$dir/sum")" ] || { echo "$name: the reply arrived changed" >&2; exit 1; }
  rm -f "$dir/$name.out"
}
curl_run() { measure curl curl -s --noproxy '*' -o "$dir/curl.out" "$url"; }
viz_run() { measure vizadavu "$program" -p -g "$url" -o "$dir/vizadavu.out"; }
for i in $(seq "$pairs"); do
  if [ $((i % 2)) -eq 1 ]; then
    curl_run
    viz_run
  else
    viz_run
    curl_run
  fi
  read -r curl_s curl_kb <"$dir/curl.time"
  read -r viz_s viz_kb <"$dir/vizadavu.time"
  echo "{\"row\": \"cli/$mib\", \"peer\": \"curl command\", \"state\": \"cold\"," \
    "\"control_s\": $viz_s, \"peer_s\": $curl_s, \"control_kib\": $viz_kb, \"peer_kib\": $curl_kb}"
done | tee "$dir/pairs.jsonl"

# The table's two rows for these pairs, with the same targets as bench/run's.
python3 "$(dirname "$0")/table.py" "$dir/pairs.jsonl" >&2
