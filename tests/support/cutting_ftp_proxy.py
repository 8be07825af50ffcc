#!/usr/bin/python3
"""An FTP relay on loopback that cuts uploads short in transit, for the tests.

It stands between a client and a real FTP server (--upstream PORT on 127.0.0.1): the
control connection is relayed line by line, every passive data connection through a
listener of its own (the 227 reply is rewritten to name it). Of the bytes the client
sends on a data connection only the first --limit reach the server; then the relay
closes its side towards the server in order, as a connection that ended cleanly would,
and reads and drops the rest of what the client sends. What the server sends passes
whole. Prints "PORT <n>" on standard output (or into --port-file) once it listens, then
serves until it is killed, its parent process goes away or the --stop-file appears.
"""
import argparse
import re
import socket
import threading

import server_control

PASV = re.compile(rb"^227 .*?(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)")


def shut(sock):
    try:
        sock.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def pump(src, dst, limit=None):
    passed = 0
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if limit is None:
                dst.sendall(data)
                continue
            room = limit - passed
            if room > 0:
                dst.sendall(data[:room])
                passed += min(room, len(data))
                if passed >= limit:
                    shut(dst)
    except OSError:
        pass
    shut(dst)


def relay_data(listener, host, port, limit):
    try:
        listener.settimeout(10)
        client, _ = listener.accept()
    except OSError:
        return
    finally:
        listener.close()
    server = socket.create_connection((host, port))
    up = threading.Thread(target=pump, args=(client, server, limit), daemon=True)
    down = threading.Thread(target=pump, args=(server, client), daemon=True)
    up.start()
    down.start()
    up.join()
    down.join()
    client.close()
    server.close()


def relay_session(client, upstream, limit):
    server = socket.create_connection(("127.0.0.1", upstream))
    threading.Thread(target=pump, args=(client, server), daemon=True).start()
    buffer = b""
    try:
        while True:
            data = server.recv(65536)
            if not data:
                break
            buffer += data
            while b"\n" in buffer:
                line, buffer = buffer.split(b"\n", 1)
                match = PASV.match(line)
                if match:
                    numbers = [int(n) for n in match.groups()]
                    listener = socket.socket()
                    listener.bind(("127.0.0.1", 0))
                    listener.listen(1)
                    threading.Thread(
                        target=relay_data,
                        args=(listener, ".".join(map(str, numbers[:4])),
                              numbers[4] * 256 + numbers[5], limit),
                        daemon=True).start()
                    port = listener.getsockname()[1]
                    line = b"227 Entering Passive Mode (127,0,0,1,%d,%d).\r" % (
                        port // 256, port % 256)
                client.sendall(line + b"\n")
    except OSError:
        pass
    client.close()
    server.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--upstream", type=int, required=True)
    parser.add_argument("--limit", type=int, required=True)
    server_control.add_arguments(parser)
    args = parser.parse_args()

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    server_control.serving(args, listener.getsockname()[1])
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay_session, args=(client, args.upstream, args.limit),
                         daemon=True).start()


if __name__ == "__main__":
    main()
