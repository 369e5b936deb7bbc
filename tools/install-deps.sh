#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages the build and the tests need
# that this machine lacks (python3, python3-requests, time and curl for bench/run's
# table and peers). Uses sudo when not run as root. With --ci, also what
# CI's extra stages use: clang-14 and its sanitizer and fuzzer runtimes,
# valgrind, gcovr for tools/coverage.sh, Qt 6 Widgets with a virtual X server
# for the Qt control, Qt's Designer and UiTools for the Designer plugin, and the
# Debian packaging tools, and xwd with netpbm for the Win32 form's screenshot
# (tools/form-win32/screenshot.sh). With --windows, what .ci/windows uses: mingw-w64
# (POSIX threads), widl and wine's IDL files for the COM server's type library,
# wine, GoogleTest's sources, and zip/unzip for the ZIP.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libcurl4-openssl-dev libssl-dev googletest libgtest-dev
          libbenchmark-dev python3 python3-requests time curl)
[ "${1:-}" = "--ci" ] && packages+=(clang-14 libclang-rt-14-dev valgrind gcovr qt6-base-dev qt6-base-dev-tools
                                    xvfb xauth fonts-dejavu-core qt6-tools-dev qt6-tools-dev-tools
                                    libqt6opengl6-dev designer-qt6 xdotool lintian dpkg-dev
                                    fakeroot file x11-apps netpbm)
[ "${1:-}" = "--windows" ] && packages=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools
                                        libwine-dev wine64 googletest zip unzip iproute2 util-linux)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
