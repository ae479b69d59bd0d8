#!/usr/bin/python3
"""A tiny HTTP CONNECT proxy for Velkor's FTP tests.

Binds 127.0.0.1 on a free port and prints that port on stdout; then, for
each tunnel it opens, one line "tunnel <host>:<port>" on stdout before it
answers 200, so a test can prove which connections went through it. With
--refuse every CONNECT is answered "403 Forbidden". A target that cannot be
reached gets "502 Bad Gateway". Serves until killed.
"""
import argparse
import socket
import sys
import threading


def read_head(conn):
    """The request head up to the blank line, or None."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk or len(data) > 65536:
            return None
        data += chunk
    return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")


def pump(src, dst, done):
    """Copies one direction; the end of it half-closes the other side, so an
    upload's end still reaches the server while its reply comes back."""
    try:
        while True:
            chunk = src.recv(65536)
            if not chunk:
                break
            dst.sendall(chunk)
    except OSError:
        pass
    try:
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    done.release()


def serve(conn, refuse, lock):
    with conn:
        head = read_head(conn)
        if head is None:
            return
        parts = head.split("\r\n", 1)[0].split(" ")
        if len(parts) != 3 or parts[0] != "CONNECT":
            conn.sendall(b"HTTP/1.0 405 Method Not Allowed\r\n\r\n")
            return
        if refuse:
            conn.sendall(b"HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            return
        host, _, port = parts[1].rpartition(":")
        host = host[1:-1] if host.startswith("[") else host
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except (OSError, ValueError):
            conn.sendall(b"HTTP/1.0 502 Bad Gateway\r\n\r\n")
            return
        with upstream:
            upstream.settimeout(None)
            with lock:
                print("tunnel %s" % parts[1], flush=True)
            conn.sendall(b"HTTP/1.0 200 Connection established\r\n\r\n")
            done = threading.Semaphore(0)
            threading.Thread(target=pump, args=(conn, upstream, done), daemon=True).start()
            threading.Thread(target=pump, args=(upstream, conn, done), daemon=True).start()
            done.acquire()
            done.acquire()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--refuse", action="store_true")
    args = p.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    lock = threading.Lock()
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, args.refuse, lock), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
