#!/usr/bin/env bash
# Takes the picture of Qt Designer in docs/designer.png: Designer runs under Xvfb
# with the vizADAVU plugin of the build tree and examples/form.ui open; the
# widget box is filtered to the vizADAVU group, the control is selected on the
# form, and the property editor is scrolled to the control's own properties.
#   usage: qt/designer-screenshot.sh [BUILD_DIR [OUTPUT.png]]   (defaults: build, docs/designer.png)
# Needs designer-qt6, xvfb, xauth and xdotool (tools/install-deps.sh --ci installs them).
# The clicks are placed for Designer 6.4's default layout in a 1280 x 800 window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/designer.png}
designer=${DESIGNER:-/usr/lib/qt6/bin/designer}
[ -f "$build/plugins/designer/libvizadavu-designer.so" ] ||
  { echo "designer-screenshot.sh: no plugin in $build/plugins/designer; build the project first" >&2; exit 1; }
for tool in xvfb-run xdotool "$designer"; do
  command -v "$tool" >/dev/null ||
    { echo "designer-screenshot.sh: $tool not found (apt-get install designer-qt6 xvfb xauth xdotool)" >&2; exit 1; }
done
cmake --build "$build" --target vizadavu_screen_grab >/dev/null
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# Settings and runtime files go to a scratch directory: Designer starts with its
# default layout and nothing of a saved session.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cat >"$scratch/session.sh" <<SESSION
set -euo pipefail
"$designer" "$root/examples/form.ui" >"$scratch/designer.log" 2>&1 &
pid=\$!
trap 'kill \$pid 2>/dev/null || true' EXIT
window=
for _ in \$(seq 100); do
  window=\$(xdotool search --onlyvisible --name "Qt Designer" 2>/dev/null | head -1) || true
  [ -n "\$window" ] && break
  sleep 0.2
done
[ -n "\$window" ] || { cat "$scratch/designer.log" >&2; echo "designer-screenshot.sh: no Designer window" >&2; exit 1; }
sleep 1
xdotool windowsize --sync "\$window" 1280 800
sleep 1
xdotool mousemove 128 91 click 1 type --delay 50 viz            # widget box filter
sleep 0.5
xdotool mousemove 292 235 click 1                                # the control's face
sleep 0.5
xdotool mousemove 1024 537 mousedown 1 mousemove 1024 650 sleep 0.2 mousemove 1024 772 mouseup 1
sleep 0.5
xdotool mousemove 1000 450 click --repeat 60 --delay 10 5        # property editor to its end
sleep 1
"$build/qt/vizadavu-screen-grab" "$out"
SESSION
env QT_PLUGIN_PATH="$build/plugins" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$scratch" \
  XDG_RUNTIME_DIR="$scratch" \
  xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24" bash "$scratch/session.sh"
echo "designer-screenshot.sh: wrote $out"
