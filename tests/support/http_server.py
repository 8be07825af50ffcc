#!/usr/bin/python3
"""HTTP server on loopback for the tests: serves the files of a folder and appends the
path and query of every request, one per line, to a record file. Prints "PORT <n>" on
standard output once it listens."""
import argparse
import functools
import http.server
import os
import sys
import threading
import time


def watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--record", required=True)
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
    threading.Thread(target=watch_parent, args=(os.getppid(),), daemon=True).start()
    sys.stdout.write("PORT %d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
