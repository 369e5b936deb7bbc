#!/usr/bin/env bash
# Takes the picture of vizadavu-form in docs/form.png: the program runs under
# Xvfb with its built-in loopback form-echo server (--demo-server), submits the
# sample form, and captures its own window once the reply is shown.
#   usage: qt/screenshot.sh [BUILD_DIR [OUTPUT.png]]   (defaults: build, docs/form.png)
# Needs xvfb and xauth (tools/install-deps.sh --ci installs them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/form.png}
program=$build/vizadavu-form
[ -x "$program" ] || { echo "screenshot.sh: $program not found; build the project first" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "screenshot.sh: xvfb-run not found (apt-get install xvfb xauth)" >&2; exit 1; }
mkdir -p "$(dirname "$out")"

# Settings and runtime files go to a scratch directory, so the picture neither
# depends on nor changes a saved window; the loopback server is never proxied.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
env -u http_proxy -u HTTP_PROXY -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  no_proxy='*' XDG_CONFIG_HOME="$scratch" XDG_RUNTIME_DIR="$scratch" QT_QPA_PLATFORM=xcb \
  xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
  "$program" --no-settings --demo-server --utf8 --screenshot "$out"
echo "screenshot.sh: wrote $out"
