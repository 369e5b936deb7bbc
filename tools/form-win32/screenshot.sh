#!/usr/bin/env bash
# Takes the picture of the Win32 vizadavu-form in docs/windows-form.png: the
# program runs under wine and Xvfb, inside a private network namespace with
# only loopback up, submits the demonstration's form to a small form-echo
# server on 127.0.0.1, and the screen is captured once the reply is shown.
#   usage: tools/form-win32/screenshot.sh [BUILD_DIR [OUTPUT.png]]
#          (defaults: build-windows, docs/windows-form.png)
# Needs wine64 (tools/install-deps.sh --windows) and xvfb, xauth, xdotool,
# x11-apps (xwd) and netpbm (tools/install-deps.sh --ci).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:-$root/build-windows}" && pwd)
  out=$(realpath -m "${2:-$root/docs/windows-form.png}")
  [ -e "$build/vizadavu-form.exe" ] || { echo "screenshot.sh: build the windows preset first" >&2; exit 1; }
  for tool in xvfb-run xdotool xwd xwdtopnm pnmtopng; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool not found" >&2; exit 1; }
  done
  unshare_args=(-n)
  [ "$(id -u)" -eq 0 ] || unshare_args=(-r -n)
  exec unshare "${unshare_args[@]}" bash "$0" --inside "$build" "$out"
fi
build=$2
out=$3
ip link set lo up
export WINEPREFIX=$build/wineprefix-screenshot WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
scratch=$(mktemp -d)
stop() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "${server:-}" ] && kill "$server" 2>/dev/null || true
  rm -rf "$scratch"
}
trap stop EXIT

# The form-echo server: answers a POST with the fields it decoded from the body.
python3 - "$scratch/port" <<'PY' &
import http.server, sys, urllib.parse
class Echo(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        fields = urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True,
                                        encoding="cp1252")
        text = "The server received %d fields by %s %s:\r\n" % (len(fields), self.command, self.path)
        text += "".join("  %s = %s\r\n" % field for field in fields)
        reply = text.encode("cp1252")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=windows-1252")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Echo)
open(sys.argv[1], "w").write(str(server.server_port))
server.serve_forever()
PY
server=$!
for _ in $(seq 50); do [ -s "$scratch/port" ] && break; sleep 0.1; done
port=$(cat "$scratch/port")

mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
xvfb-run --auto-servernum --server-args="-screen 0 1100x760x24" bash -c '
  set -euo pipefail
  # A wine desktop of its own, as large as the window: the window gets its frame
  # and caption from wine.
  /usr/lib/wine/wine64 explorer /desktop=shot,1040x700 "$1/vizadavu-form.exe" --plain --submit \
    "http://127.0.0.1:$2/demo/form" "name=Ada Lovelace" "city=Zürich" "note=50% off & 2=2" \
    "empty=   " >/dev/null 2>&1 &
  for _ in $(seq 100); do xdotool search --name "^vizadavu-form$" >/dev/null 2>&1 && break; sleep 0.2; done
  # The one-second pause, the transfer, and the repaint.
  sleep 4
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left 0 -top 0 -width 1040 -height 700 |
    pnmtopng > "$3"
' bash "$build" "$port" "$out"
echo "screenshot.sh: wrote $out"
