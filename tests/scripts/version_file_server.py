#!/usr/bin/env python3
"""Serves version files on 127.0.0.1 for the script-host and tool tests.

Binds port 0, prints its base URL ("http://127.0.0.1:<port>") on one line and
serves until stopped:
  /version.txt        a valid version file whose "file=" line names its own URL
  /slow/version.txt   the same, answered after one second
  /silent             takes the request and never answers (its path on stderr)
  /refused-then-trickle
                      first a text that is no version file, then to every
                      later request a long body, one byte a second
  anything else       404
"""
import http.server
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    asked = set()

    def do_GET(self):
        if self.path == "/refused-then-trickle" and self.path in Handler.asked:
            self.trickle()
            return
        Handler.asked.add(self.path)
        if self.path == "/silent":
            print(self.path, file=sys.stderr, flush=True)
            threading.Event().wait()
            return
        if self.path == "/slow/version.txt":
            time.sleep(1.0)
        elif self.path != "/version.txt":
            self.send_error(404)
            return
        url = "http://127.0.0.1:%d%s" % (self.server.server_port, self.path)
        body = ("file=" + url + "\r\nmajor=2\r\nminor=0\r\nbuild=15\r\n"
                "update=http://example.invalid/new\r\n"
                "History line 1\r\nHistory line 2\r\n").encode("ascii")
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def trickle(self):
        self.send_response(200)
        self.send_header("Content-Length", str(1 << 20))
        self.end_headers()
        try:
            while True:
                self.wfile.write(b"t")
                self.wfile.flush()
                time.sleep(1.0)
        except OSError:  # the client has gone
            pass

    def log_message(self, format, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("http://127.0.0.1:%d" % server.server_port, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
