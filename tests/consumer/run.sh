#!/usr/bin/env bash
# Builds the consumer program against the library in one of five ways, then
# submits its form to an echo server on loopback and checks the request the
# server received.
#   run.sh subdir         SOURCE_DIR WORK_DIR ECHO_SERVER   add_subdirectory, shared library
#   run.sh package        BUILD_DIR  WORK_DIR ECHO_SERVER   installed tree, find_package
#   run.sh pkgconfig      BUILD_DIR  WORK_DIR ECHO_SERVER   installed tree, pkg-config
#   run.sh package-root   PREFIX     WORK_DIR ECHO_SERVER   unpacked packages, find_package,
#                                                           and the Qt host (COMPONENTS qt)
#   run.sh pkgconfig-root PREFIX     WORK_DIR ECHO_SERVER   unpacked packages, pkg-config
# The -root modes use nothing but PREFIX (an unpacked root's usr/) for the library,
# and check that the programs built really use the library found there.
set -euo pipefail
mode=$1 tree=$2 work=$3 echo_server=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
consumers=()

# A shipped library carries no test seam: nothing of the tests' way in
# (detail::Testing and the services it hands over), no hook that can refuse
# libcurl's allocations, among all its symbols, local ones included.
no_seams() {
  local found
  found=$(nm -C "$1" 2>/dev/null | grep -E 'detail::Testing|t_services|MayAllocate|stageBytes' || true)
  [ -z "$found" ] || { echo "$1 carries test seams:"; echo "$found"; exit 1; }
}

# The program must load its libvizadavu* from $1/, nowhere else.
uses_prefix() {
  local libs
  libs=$(ldd "$2" | awk '/libvizadavu/ {print $3}')
  [ -n "$libs" ] || { echo "$2 links no shared libvizadavu"; exit 1; }
  while read -r lib; do
    case $(realpath "$lib") in "$(realpath "$1")"/*) ;; *) echo "$2 loads $lib"; exit 1 ;; esac
  done <<<"$libs"
}

case $mode in
  subdir)
    cmake -S "$here" -B "$work/build" -G Ninja -DVIZADAVU_SOURCE_DIR="$tree" \
      -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    cmake --build "$work/build" >/dev/null
    # A host that adds the tree gets no -Werror from it.
    if grep -F -- -Werror "$work/build/compile_commands.json"; then
      echo "the add_subdirectory build compiles with -Werror"; exit 1
    fi
    # The shared library exports the public API and nothing else: no internals,
    # no libcurl or OpenSSL symbols.
    so=$(find "$work/build" -name 'libvizadavu.so.*' -type f | head -n 1)
    exports=$(nm -DC --defined-only "$so")
    grep -q 'vizadavu::vizADAVU::Action(int)' <<<"$exports" ||
      { echo "$so does not export the public API:"; echo "$exports"; exit 1; }
    if grep -Ei 'vizadavu::(detail|platform)|curl|ssl|crypto|evp_' <<<"$exports"; then
      echo "$so exports the symbols above, which are not public API"; exit 1
    fi
    no_seams "$so"
    consumers=("$work/build/consumer") ;;
  package | package-root)
    prefix=$tree qt=ON
    if [ "$mode" = package ]; then
      prefix=$work/prefix qt=OFF
      cmake --install "$tree" --prefix "$prefix" >/dev/null
    fi
    for lib in "$prefix"/lib*/libvizadavu.* "$prefix"/lib/*/libvizadavu.*; do
      if [ -f "$lib" ]; then no_seams "$lib"; fi
    done
    cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
      -DVIZADAVU_QT_CONSUMER=$qt >/dev/null
    cmake --build "$work/build" >/dev/null
    consumers=("$work/build/consumer")
    if [ "$mode" = package-root ]; then
      found=$(sed -n 's/^vizadavu_DIR:PATH=//p' "$work/build/CMakeCache.txt")
      case $(realpath "$found") in "$(realpath "$prefix")"/*) ;;
        *) echo "find_package used $found, not the package root"; exit 1 ;; esac
      export LD_LIBRARY_PATH=$prefix/lib/$(gcc -print-multiarch)
      consumers+=("$work/build/qt_consumer")
      for c in "${consumers[@]}"; do uses_prefix "$prefix" "$c"; done
    fi ;;
  pkgconfig | pkgconfig-root)
    prefix=$tree
    if [ "$mode" = pkgconfig ]; then
      prefix=$work/prefix
      cmake --install "$tree" --prefix "$prefix" >/dev/null
    fi
    multiarch=$(gcc -print-multiarch)
    export PKG_CONFIG_PATH=$prefix/lib/pkgconfig:$prefix/lib/$multiarch/pkgconfig
    # A shared library in a private prefix is found the way a user would find it.
    export LD_LIBRARY_PATH=$prefix/lib:$prefix/lib/$multiarch
    # shellcheck disable=SC2046
    c++ -std=c++17 "$here/main.cpp" -o "$work/consumer" $(pkg-config --cflags --libs vizadavu)
    consumers=("$work/consumer")
    [ "$mode" = pkgconfig ] || uses_prefix "$prefix" "$work/consumer" ;;
  *) echo "unknown mode $mode"; exit 2 ;;
esac

coproc SERVER { exec "$echo_server"; }
trap 'kill "$SERVER_PID" 2>/dev/null || true' EXIT
read -r port <&"${SERVER[0]}"

for consumer in "${consumers[@]}"; do
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
  echo "$(basename "$consumer") ($mode) submitted the form as expected"
done
