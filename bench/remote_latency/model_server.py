#!/usr/bin/env python3
"""A small OpenAI-format model server over TLS for the remote latency benchmark.

    model_server.py CERT KEY ADDRESS PORT

Every POST is answered with a streamed chat completion ("Polished " first, then "text."), chunked,
on an HTTP/1.1 connection that stays open for the next request unless the client asked to close
it (idle ones are closed after two minutes). Stamps go to standard output, one line each, in µs
of the system's monotonic clock (the clock the desktop side stamps its keys with):

    conn ID accepted US           the TCP connection was accepted
    conn ID tls US resumed|full   its TLS handshake ended, with a resumed session or a full one
    request ID US N               a request line began to arrive, the N-th on that connection
"""
import itertools
import json
import socket
import ssl
import sys
import threading
import time

IDLE_SECONDS = 120
out_lock = threading.Lock()


def stamp(line):
    with out_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def now_us():
    return time.monotonic_ns() // 1000


def chunk(data):
    return b"%x\r\n%s\r\n" % (len(data), data)


def event(content):
    delta = {"choices": [{"index": 0, "delta": {"content": content}, "finish_reason": None}]}
    return b"data: " + json.dumps(delta).encode() + b"\n\n"


def read_request(tls, buffer):
    """One request: (arrival µs, method, headers, rest of the buffer), or None at the end."""
    at = now_us() if buffer else None
    while b"\r\n\r\n" not in buffer:
        data = tls.recv(65536)
        if not data:
            return None
        at = at or now_us()
        buffer += data
    head, _, buffer = buffer.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    length = int(headers.get("content-length", "0"))
    while len(buffer) < length:
        data = tls.recv(65536)
        if not data:
            return None
        buffer += data
    return at, lines[0].split(" ")[0], headers, buffer[length:]


def serve(raw, context, conn_id):
    raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    raw.settimeout(IDLE_SECONDS)
    try:
        with context.wrap_socket(raw, server_side=True) as tls:
            stamp(f"conn {conn_id} tls {now_us()} {'resumed' if tls.session_reused else 'full'}")
            buffer = b""
            for n in itertools.count(1):
                request = read_request(tls, buffer)
                if request is None:
                    return
                at, method, headers, buffer = request
                close = headers.get("connection", "").lower() == "close"
                head = b"HTTP/1.1 %s\r\nConnection: %s\r\n" % (
                    b"200 OK" if method == "POST" else b"404 Not Found", b"close" if close else b"keep-alive")
                if method != "POST":
                    tls.sendall(head + b"Content-Length: 0\r\n\r\n")
                else:
                    stamp(f"request {conn_id} {at} {n}")
                    tls.sendall(head + b"Content-Type: text/event-stream\r\nTransfer-Encoding: chunked\r\n\r\n" +
                                chunk(event("Polished ")))
                    tls.sendall(chunk(event("text.")) + chunk(b"data: [DONE]\n\n") + b"0\r\n\r\n")
                if close:
                    return
    except (OSError, ssl.SSLError):
        pass  # the client went away, or an idle connection timed out


def main():
    cert, key, address, port = sys.argv[1:5]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server((address, int(port)), backlog=64)
    stamp("listening")
    for conn_id in itertools.count(1):
        raw, _ = listener.accept()
        stamp(f"conn {conn_id} accepted {now_us()}")
        threading.Thread(target=serve, args=(raw, context, conn_id), daemon=True).start()


if __name__ == "__main__":
    main()
