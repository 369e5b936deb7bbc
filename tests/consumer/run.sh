#!/usr/bin/env bash
# Builds the consumer program against the library in one of three ways, then
# submits its form to an echo server on loopback and checks the request the
# server received.
#   run.sh subdir    SOURCE_DIR WORK_DIR ECHO_SERVER   add_subdirectory, shared library
#   run.sh package   BUILD_DIR  WORK_DIR ECHO_SERVER   installed tree, find_package
#   run.sh pkgconfig BUILD_DIR  WORK_DIR ECHO_SERVER   installed tree, pkg-config
set -euo pipefail
mode=$1 tree=$2 work=$3 echo_server=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"

case $mode in
  subdir)
    cmake -S "$here" -B "$work/build" -G Ninja -DVIZADAVU_SOURCE_DIR="$tree" \
      -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$work/build" >/dev/null
    consumer=$work/build/consumer ;;
  package)
    cmake --install "$tree" --prefix "$work/prefix" >/dev/null
    cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    cmake --build "$work/build" >/dev/null
    consumer=$work/build/consumer ;;
  pkgconfig)
    cmake --install "$tree" --prefix "$work/prefix" >/dev/null
    export PKG_CONFIG_PATH=$work/prefix/lib/pkgconfig:$work/prefix/lib/x86_64-linux-gnu/pkgconfig
    # A shared library in a private prefix is found the way a user would find it.
    export LD_LIBRARY_PATH=$work/prefix/lib:$work/prefix/lib/x86_64-linux-gnu
    # shellcheck disable=SC2046
    c++ -std=c++17 "$here/main.cpp" -o "$work/consumer" $(pkg-config --cflags --libs vizadavu)
    consumer=$work/consumer ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac

coproc SERVER { exec "$echo_server"; }
trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
read -r port <&"${SERVER[0]}"

reply=$("$consumer" "http://127.0.0.1:$port/submit?x=1")
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
echo "consumer ($mode) submitted the form as expected"
