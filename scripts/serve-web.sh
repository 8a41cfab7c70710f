#!/bin/bash
# serve-web.sh - serves build-web/ (made by scripts/build-web.sh) on 127.0.0.1 with
# Python's http.server and prints the address to open.
#
#   bash scripts/serve-web.sh [port]      (default 8080; MIRADOR_WEB_OUT names another folder)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR=${MIRADOR_WEB_OUT:-$root/build-web}
PORT=${1:-8080}
if [ ! -f "$DIR/index.html" ] || [ ! -f "$DIR/mirador.wasm" ]; then
  echo "serve-web: $DIR has no page: run bash scripts/build-web.sh first" >&2
  exit 1
fi
echo "serve-web: open http://127.0.0.1:$PORT/ (Ctrl-C stops the server)"
# .wasm must go out as application/wasm for the browser to compile it while it loads.
exec python3 - "$DIR" "$PORT" <<'PY'
import functools, http.server, sys
d, port = sys.argv[1], int(sys.argv[2])
class Handler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{".wasm": "application/wasm", ".js": "text/javascript", ".flac": "audio/flac",
                             ".gz": "application/octet-stream", ".dat": "application/octet-stream"})
    def log_message(self, fmt, *args):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", port), functools.partial(Handler, directory=d)).serve_forever()
PY
