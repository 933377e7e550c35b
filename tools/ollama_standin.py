#!/usr/bin/env python3
"""A tiny stand-in for a local Ollama server, for screenshots and manual checks.

Serves GET /api/tags (one installed model) and POST /api/chat (a reply streamed
as newline-delimited JSON, one word per line, chunked like the real server).
Listens on 127.0.0.1:11434 unless --port says otherwise.
"""
import argparse
import json
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MODEL = {"name": "llama3.2:3b", "model": "llama3.2:3b", "size": 2019393189,
         "details": {"family": "llama", "parameter_size": "3.2B"}}
REPLY = ("Here is the corrected sentence:\n\n"
         "**\"Their going to the market tomorrow.\"** \u2192 **\"They're going to the market tomorrow.\"**\n\n"
         "Changes made: *their* \u2192 *they're* (the contraction of \"they are\").")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _send_json(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _chunk(self, data):
        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        self.wfile.flush()

    def do_GET(self):
        if self.path.rstrip("/") == "/api/tags":
            self._send_json(200, {"models": [MODEL]})
        else:
            self._send_json(404, {"error": "not found"})

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        request = json.loads(self.rfile.read(length) or b"{}")
        if self.path.rstrip("/") != "/api/chat":
            self._send_json(404, {"error": "not found"})
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/x-ndjson")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        words = REPLY.split(" ")
        for i, word in enumerate(words):
            piece = word if i == 0 else " " + word
            line = {"model": request.get("model", MODEL["name"]),
                    "message": {"role": "assistant", "content": piece}, "done": False}
            self._chunk(json.dumps(line).encode() + b"\n")
            time.sleep(0.03)
        done = {"model": request.get("model", MODEL["name"]),
                "message": {"role": "assistant", "content": ""}, "done": True}
        self._chunk(json.dumps(done).encode() + b"\n")
        self._chunk(b"")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=11434)
    args = parser.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
