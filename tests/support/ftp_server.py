#!/usr/bin/python3
"""FTP server on loopback for the tests and benchmarks (Debian's pyftpdlib).

One account whose home is the given root folder, with the rights to change folders,
list, fetch, append, delete, rename, create folders, store, chmod and set times
("elradfmwMT"); with --no-size, a server that does not know SIZE. Prints "PORT <n>" on
standard output once it listens, then serves until it is killed or its parent process
goes away.
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", default=os.devnull)
    parser.add_argument("--no-size", action="store_true",
                        help="answer SIZE as a command the server does not know")
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
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
