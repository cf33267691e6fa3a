#!/usr/bin/env python3
"""A small HTTP receiver for the webhook tests and benchmark.

Usage: http_receiver.py ADDRESS   (listens on ADDRESS, a port of the system's choosing)

Prints "listening on ADDRESS:PORT" once it accepts connections, then one JSON line per
request it receives: {"method", "path", "type", "body"}. It answers by the path:
  /status/CODE   always CODE (an empty body)
  /flaky/N       500 to the first N requests on that path, then 200
  /hang          never: holds the connection until the client gives up
  anything else  200
"""
import http.server
import json
import sys
import threading

lock = threading.Lock()
seen = {}


class Receiver(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        with lock:
            seen[self.path] = seen.get(self.path, 0) + 1
            count = seen[self.path]
            print(json.dumps({"method": "POST", "path": self.path,
                              "type": self.headers.get("Content-Type", ""), "body": body}),
                  flush=True)
        parts = self.path.strip("/").split("/")
        code = 200
        if parts[0] == "hang":
            threading.Event().wait()
        elif parts[0] == "status" and len(parts) > 1:
            code = int(parts[1])
        elif parts[0] == "flaky" and len(parts) > 1 and count <= int(parts[1]):
            code = 500
        self.send_response(code)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


def main():
    server = http.server.ThreadingHTTPServer((sys.argv[1], 0), Receiver)
    server.daemon_threads = True
    print("listening on %s:%d" % server.server_address[:2], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
