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

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

import server_control


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--log", default=os.devnull)
    parser.add_argument("--no-size", action="store_true",
                        help="answer SIZE as a command the server does not know")
    server_control.add_arguments(parser)
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
    server_control.serving(args, server.address[1])
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
