#!/usr/bin/python3
"""FTP server on loopback for the tests and benchmarks (Debian's pyftpdlib).

One account whose home is the given root folder, with the rights to change folders,
list, fetch, append, delete, rename, create folders, store, chmod and set times
("elradfmwMT"); with --no-size, a server that does not know SIZE. Prints "PORT <n>" on
standard output (or into --port-file) once it listens, then serves until it is killed,
its parent process goes away or the --stop-file appears.
"""
import argparse
import logging
import os
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def watch_stop_file(path):
    while not os.path.exists(path):
        time.sleep(0.2)
    os._exit(0)


def announce(port, port_file):
    line = "PORT %d\n" % port
    if port_file:
        with open(port_file + ".tmp", "w") as f:
            f.write(line)
        os.rename(port_file + ".tmp", port_file)
    else:
        sys.stdout.write(line)
        sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", default=os.devnull)
    parser.add_argument("--no-size", action="store_true",
                        help="answer SIZE as a command the server does not know")
    # For a parent that can neither read a pipe from this process nor signal it.
    parser.add_argument("--port-file", help="write the PORT line to this file instead")
    parser.add_argument("--stop-file", help="stop once this file exists")
    args = parser.parse_args()

    logging.basicConfig(filename=args.log, level=logging.INFO,
                        format="%(asctime)s %(message)s")

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, os.path.abspath(args.root),
                        perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    if args.no_size:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != "SIZE"}

    Handler.authorizer = authorizer
    Handler.banner = "test server ready."
    Handler.auth_failed_timeout = 0

    server = FTPServer(("127.0.0.1", 0), Handler)
    server.max_cons = 64
    threading.Thread(target=watch_parent, args=(os.getppid(),), daemon=True).start()
    if args.stop_file:
        threading.Thread(target=watch_stop_file, args=(args.stop_file,), daemon=True).start()
    announce(server.address[1], args.port_file)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
