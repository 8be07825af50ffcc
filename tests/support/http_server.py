#!/usr/bin/python3
"""HTTP server on loopback for the tests: serves the files of a folder and appends the
path and query of every request, one per line, to a record file. Prints "PORT <n>" on
standard output (or into --port-file) once it listens; ends with its parent or at
the --stop-file."""
import argparse
import functools
import http.server
import os
import threading

import server_control


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--record", required=True)
    server_control.add_arguments(parser)
    args = parser.parse_args()
    lock = threading.Lock()

    class Handler(http.server.SimpleHTTPRequestHandler):
        def record(self):
            with lock, open(args.record, "a", encoding="utf-8", errors="replace") as out:
                out.write(self.path + "\n")

        def do_GET(self):
            self.record()
            super().do_GET()

        def do_HEAD(self):
            self.record()
            super().do_HEAD()

        def log_message(self, format, *args):
            pass

    handler = functools.partial(Handler, directory=os.path.abspath(args.root))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server_control.serving(args, server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
