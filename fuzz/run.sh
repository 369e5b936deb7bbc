#!/usr/bin/env bash
# Fuzzes every target with libFuzzer for SECONDS seconds each (clang-14, AddressSanitizer
# and UndefinedBehaviorSanitizer). Builds in build-fuzz (or $VIZADAVU_FUZZ_BUILD_DIR),
# fuzzes a scratch copy of each checked-in corpus, keeps crashing inputs under
# build-fuzz/fuzz-run/<target>/artifacts/, and exits non-zero when any target crashed.
#
# Needs the project's build dependencies (tools/install-deps.sh) plus clang-14 and
# libclang-rt-14-dev.
set -euo pipefail

usage() {
  echo "usage: $0 SECONDS   (seconds of fuzzing per target, a positive integer)" >&2
  exit 64
}
[[ $# -eq 1 && "$1" =~ ^[0-9]+$ && "$1" -gt 0 ]] || usage
seconds=$1

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${VIZADAVU_FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_urlencode fuzz_split_url fuzz_form_body fuzz_codepage fuzz_server_reply
         fuzz_request_parser)

if ! command -v clang++-14 >/dev/null; then
  echo "$0: clang++-14 not found; install clang-14 and libclang-rt-14-dev" >&2
  exit 69
fi

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIZADAVU_LIBFUZZER=ON \
  -DVIZADAVU_SANITIZERS=address,undefined,fuzzer-no-link \
  -DVIZADAVU_BUILD_BENCHMARKS=OFF \
  -DVIZADAVU_BUILD_QT=OFF \
  -DVIZADAVU_INSTALL=OFF
cmake --build "$build" --target vizadavu_fuzzers

# Loopback servers only: a proxy from the environment must not reroute the transfers.
unset http_proxy HTTP_PROXY https_proxy HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy='*'
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:halt_on_error=1"

failed=()
for target in "${targets[@]}"; do
  work="$build/fuzz-run/$target"
  rm -rf "$work/corpus"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "$here/corpus/$target/." "$work/corpus/"
  flags=(-max_total_time="$seconds" -rss_limit_mb=4096 -timeout=30 -print_final_stats=1
         -artifact_prefix="$work/artifacts/")
  if [[ -f "$here/dict/$target.dict" ]]; then flags+=(-dict="$here/dict/$target.dict"); fi
  echo "== $target: ${seconds}s" >&2
  start=$SECONDS
  if "$build/fuzz/$target" "${flags[@]}" "$work/corpus" >"$work/log" 2>&1; then
    echo "   ok after $((SECONDS - start))s; $(grep -E 'stat::number_of_executed_units' "$work/log" \
         | tail -1 | awk '{print $2}') inputs run; log: $work/log" >&2
  else
    echo "   FAILED; crashing input in $work/artifacts/, log: $work/log" >&2
    grep -E 'ERROR|invariant violated|SUMMARY' "$work/log" | head -5 >&2 || true
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "fuzzing found failures in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing passed: ${targets[*]}" >&2
