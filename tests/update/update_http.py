#!/usr/bin/env python3
"""Runs the update check's HTTP tests against a loopback server of our own.

usage: update_http.py TEST_EXECUTABLE [EMULATOR]

The server answers on 127.0.0.1 only:
  /doc?body=TEXT&key=K     200 with the percent-decoded bytes of TEXT (counted under K)
  /big?size=N              200 with a well-formed document of exactly N bytes
  /status/CODE?to=PATH     that status, with Location: PATH for redirects
  /hang                    accepts, reads the request and never answers
  /trickle?n=N&every=MS    200 with N bytes "x", one every MS milliseconds
  /hits?key=K              how many times /doc was asked with key K
A port where nobody listens is passed on as VQ_TEST_REFUSED_PORT.
"""
import os, socket, subprocess, sys, threading, time, urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import vqtest  # noqa: E402

hits = {}
hits_lock = threading.Lock()
release = threading.Event()


def big_document(size):
    head, tail = b"<ROOT><version>0.05</version><message>", b"</message></ROOT>"
    return head + b"m" * (size - len(head) - len(tail)) + tail


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, code, body=b"", headers=()):
        self.send_response(code)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        if url.path == "/doc":
            key = query.get("key", [""])[0]
            with hits_lock:
                hits[key] = hits.get(key, 0) + 1
            raw = urllib.parse.unquote_to_bytes(url.query.split("body=", 1)[1].split("&", 1)[0])
            self.answer(200, raw, [("Content-Type", "text/xml")])
        elif url.path == "/big":
            self.answer(200, big_document(int(query["size"][0])))
        elif url.path.startswith("/status/"):
            code = int(url.path[len("/status/"):])
            to = query.get("to", [None])[0]
            self.answer(code, b"", [("Location", to)] if to else [])
        elif url.path == "/trickle":
            n, every = int(query["n"][0]), int(query["every"][0]) / 1000.0
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.flush()
            try:
                for _ in range(n):
                    time.sleep(every)
                    self.wfile.write(b"x")
                    self.wfile.flush()
            except OSError:
                pass  # the client gave up
        elif url.path == "/hang":
            release.wait(120)
        elif url.path == "/hits":
            with hits_lock:
                n = hits.get(query.get("key", [""])[0], 0)
            self.answer(200, str(n).encode())
        else:
            self.answer(404, b"not here")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    exe = sys.argv[1]
    emulator = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else os.environ.get("VQ_WINE", "")
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["VQ_TEST_HTTP"] = "127.0.0.1:%d" % server.server_address[1]
    env["VQ_TEST_REFUSED_PORT"] = str(free_port())
    # The loopback server must be reached directly.
    for k in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        env.pop(k, None)
    cmd = ([emulator] if emulator else []) + [exe, "--gtest_color=no"]
    rc = subprocess.call(cmd, env=env)
    release.set()
    server.shutdown()
    vqtest.check(rc == 0, "the HTTP tests passed (exit code %d)" % rc)
    vqtest.finish()


if __name__ == "__main__":
    main()
