#!/usr/bin/env python3
"""Serves a version file on 127.0.0.1 for the demo.

The file's "file=" line must repeat the URL it is fetched from, so every
"@URL@" in the file is replaced by the URL under which it is served. Prints
that URL on stdout (one line) once the server is listening, then serves until
killed.
"""
import argparse
import http.server
import os
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--path", default="/myapp/version.txt")
    args = parser.parse_args()
    with open(args.file, "rb") as f:
        template = f.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if self.path != args.path:
                self.send_error(404)
                return
            body = template.replace(b"@URL@", url.encode("ascii"))
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *a):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    url = "http://127.0.0.1:%d%s" % (server.server_address[1], args.path)
    print(url, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
