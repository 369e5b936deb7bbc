#!/usr/bin/env bash
# Builds the consumer project against the source tree, then submits its form to
# an echo server on loopback and checks the request the server received.
set -euo pipefail
source_dir=$1 build_dir=$2 echo_server=$3

cmake -S "$source_dir/tests/consumer" -B "$build_dir" -G Ninja \
  -DVIZADAVU_SOURCE_DIR="$source_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" >/dev/null

coproc SERVER { exec "$echo_server"; }
trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
read -r port <&"${SERVER[0]}"

reply=$("$build_dir/consumer" "http://127.0.0.1:$port/submit?x=1")
expected_body="a=1&b=x+y"
for want in "POST /submit?x=1 HTTP/1.0" "Host: 127.0.0.1:$port" "User-Agent: Tormelo/1.0" \
  "Accept-Language: en" "Connection: Keep-Alive" \
  "Content-Type: application/x-www-form-urlencoded" "Content-Length: ${#expected_body}"; do
  grep -qxF "$want"$'\r' <<<"$reply" || { echo "missing request line or header: $want"; echo "$reply"; exit 1; }
done
[ "${reply: -${#expected_body}}" = "$expected_body" ] || { echo "body differs:"; echo "$reply"; exit 1; }
# The request line, the six headers above and the blank line: nothing else.
lines=$(grep -c $'\r$' <<<"$reply")
[ "$lines" -eq 8 ] || { echo "expected 8 CR LF lines, got $lines:"; echo "$reply"; exit 1; }
echo "consumer submitted the form as expected"
