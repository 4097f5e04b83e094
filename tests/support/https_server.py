#!/usr/bin/env python3
"""HTTPS peer for the update client's tests and benchmark.

Makes a certificate authority (in --ca, reused when present) and a server
certificate for 127.0.0.1 and 127.0.0.2 signed by it (or, with --impostor, one
nobody signed), listens on an ephemeral port of --address (127.0.0.1 unless
given) and prints "PORT n".

What each path answers comes from DIR/routes.json, read at every request:
  {"/update": {"status": 200, "body": "...", "delay_ms": 0},
   "/pkg/a.bin": {"file": "/path", "range": true, "drop_after": 1000,
                  "drop_count": 1, "throttle": 65536, "stall_after": 0,
                  "resume_when": "/path/of/a/marker"},
   "/pkg/moved.bin": {"status": 302, "location": "https://..."},
   "/pkg/endless.bin": {"endless": true}}
"throttle" sends that many bytes a second (a few, and the body trickles);
"stall_after" stops sending after that many bytes, for good or, with
"resume_when", until the marker file exists; "endless" sends zeros without a
length until the client hangs up. An unknown path answers 404. Every request is appended to DIR/requests.log
as one JSON line (method, path, range, cookie, content_type, body).
"""
import argparse
import http.server
import json
import os
import socket
import ssl
import subprocess
import sys
import threading
import time

LOCK = threading.Lock()
DROPS = {}


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(ca_dir, own_dir, impostor):
    ca_key = os.path.join(ca_dir, "ca.key")
    ca_pem = os.path.join(ca_dir, "ca.pem")
    if not os.path.exists(ca_pem):
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", ca_key, "-out", ca_pem + ".tmp", "-days", "2", "-subj", "/CN=Test Update CA",
                "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
        os.rename(ca_pem + ".tmp", ca_pem)
    key = os.path.join(own_dir, "server.key")
    pem = os.path.join(own_dir, "server.pem")
    ext = os.path.join(own_dir, "server.ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,IP:127.0.0.2\nbasicConstraints=CA:FALSE\n")
    if impostor:
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", key, "-out", pem, "-days", "2", "-subj", "/CN=127.0.0.1",
                "-addext", "subjectAltName=IP:127.0.0.1")
    else:
        csr = os.path.join(own_dir, "server.csr")
        openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", key, "-out", csr, "-subj", "/CN=127.0.0.1")
        openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
                "-out", pem, "-days", "2", "-extfile", ext)
    return pem, key


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestUpdate/1"
    # Headers and body go out in separate writes; without this each small
    # answer waits for a delayed acknowledgement.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def route(self):
        try:
            with open(os.path.join(self.server.dir, "routes.json")) as f:
                routes = json.load(f)
        except (OSError, ValueError):
            routes = {}
        return routes.get(self.path.split("?")[0])

    def record(self, body):
        entry = {"method": self.command, "path": self.path, "range": self.headers.get("Range", ""),
                 "cookie": self.headers.get("Cookie", ""), "content_type": self.headers.get("Content-Type", ""),
                 "body": body.decode("utf-8", "replace")}
        with LOCK:
            with open(os.path.join(self.server.dir, "requests.log"), "a") as f:
                f.write(json.dumps(entry) + "\n")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.answer(self.rfile.read(length) if length > 0 else b"")

    def do_PUT(self):
        self.do_POST()

    def do_GET(self):
        self.answer(b"")

    def answer(self, body):
        self.record(body)
        route = self.route()
        if route is None:
            self.send_plain(404, b"<html><body>Not Found</body></html>", "text/html")
            return
        time.sleep(route.get("delay_ms", 0) / 1000.0)
        if route.get("endless"):
            self.send_endless()
        elif "file" in route:
            self.send_file(route)
        else:
            extra = {"Location": route["location"]} if "location" in route else {}
            self.send_plain(route.get("status", 200), route.get("body", "").encode(),
                            route.get("content_type", "application/json"), extra)

    def send_plain(self, status, data, content_type, extra=None):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        block = bytes(64 * 1024)
        try:
            while True:
                self.wfile.write(block)
        except OSError:
            pass

    def stall(self, route):
        """Holds the body: for good, or until the marker named by resume_when exists."""
        self.wfile.flush()
        marker = route.get("resume_when")
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            if marker and os.path.exists(marker):
                return True
            time.sleep(0.02)
        return False

    def dropping(self, route):
        """True while this path still has drops to make (drop_count < 0: always)."""
        if "drop_after" not in route:
            return False
        with LOCK:
            done = DROPS.get(self.path, 0)
            count = route.get("drop_count", 1)
            if count >= 0 and done >= count:
                return False
            DROPS[self.path] = done + 1
            return True

    def send_file(self, route):
        size = os.path.getsize(route["file"])
        start = 0
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes=") and route.get("range", True):
            start = int(wanted[6:].split("-")[0])
            if start >= size:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(206)
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        else:
            self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size - start))
        self.end_headers()
        limit = size - start
        if self.dropping(route):
            limit = min(limit, route["drop_after"])
        stall = route.get("stall_after")
        throttle = route.get("throttle", 0)
        sent = 0
        with open(route["file"], "rb") as f:
            f.seek(start)
            while sent < limit:
                if stall is not None and sent >= stall:
                    if not self.stall(route):
                        return
                    stall = None
                chunk = min(256 * 1024, limit - sent)
                if stall is not None:
                    chunk = min(chunk, stall - sent)
                if throttle:
                    chunk = min(chunk, max(1, throttle // 10))
                data = f.read(chunk)
                if not data:
                    break
                self.wfile.write(data)
                sent += len(data)
                if throttle:
                    time.sleep(len(data) / throttle)
        if sent < size - start:
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--ca", required=True)
    parser.add_argument("--impostor", action="store_true")
    parser.add_argument("--address", default="127.0.0.1")
    args = parser.parse_args()
    pem, key = make_certificates(args.ca, args.dir, args.impostor)
    server = Server((args.address, 0), Handler)
    server.dir = args.dir
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(pem, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
