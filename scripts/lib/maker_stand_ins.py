#!/usr/bin/python3
"""Local stand-ins for the maker's servers, for the demo.

  maker_stand_ins.py --dir DIR [--version TEXT] [--host 127.0.0.1]
                     [--ftp-port 5510] [--nfe-port 5521] [--web-port 5580]
                     [--updater FILE]

Starts, in one process:
  - the upload FTP service (pyftpdlib) on --ftp-port, home DIR/ftp, with the program's
    account; DIR/ftp/exe/Renovador.exe is the updater the self-update fetches (--updater,
    or a small script that notes in Renovador.log beside itself that it was started);
  - the NF-e FTP service on --nfe-port, home DIR/nfe, same account;
  - the web server on --web-port: "/atl/atl_bkp.xml" publishes the version document with
    --version as the text of "versao" (default 13, the program's own: no update), and
    "/atl/updataBkp.php" takes the daily date report, answering a small XML document.
    Every request is appended to DIR/requests.log and printed.

A port of 0 takes a free one. Once everything listens it prints what the program needs,
one NAME=VALUE per line (DOVRA_FTP_HOST, DOVRA_FTP_PORT, DOVRA_NFE_FTP_PORT,
DOVRA_WEB_HOST, then the folders and logs), then "READY", and serves until it is killed
(SIGTERM or SIGINT end it cleanly). Needs Debian's python3-pyftpdlib.
"""
import argparse
import http.server
import logging
import os
import shutil
import signal
import sys
import threading
import time
from xml.sax.saxutils import escape

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

USER = "copia_ftp_dovra"
PASSWORD = "lotusgravelz2"

DEFAULT_UPDATER = """#!/bin/sh
# Stand-in for the maker's updater: notes that it was started, and ends.
echo "Renovador started $(date '+%Y-%m-%d %H:%M:%S')" >> "$(dirname "$0")/Renovador.log"
"""


def ftp_server(host, port, root, banner):
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, root, perm="elradfmwMT")
    handler = type("Handler", (FTPHandler,), {})
    handler.authorizer = authorizer
    handler.banner = banner
    server = FTPServer((host, port), handler)
    server.max_cons = 64
    return server


def web_server(host, port, version, request_log):
    lock = threading.Lock()
    document = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                "<dovrainformatica><versao>%s</versao></dovrainformatica>\n" % escape(version))
    answer = '<?xml version="1.0" encoding="UTF-8"?>\n<retorno>ok</retorno>\n'

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            line = "%s GET %s" % (time.strftime("%Y-%m-%d %H:%M:%S"), self.path)
            with lock:
                with open(request_log, "a", encoding="utf-8", errors="replace") as out:
                    out.write(line + "\n")
                print(line, flush=True)
            path = self.path.split("?", 1)[0]
            if path == "/atl/atl_bkp.xml":
                self.reply(200, document)
            elif path == "/atl/updataBkp.php":
                self.reply(200, answer)
            else:
                self.reply(404, "<erro>not found</erro>\n")

        def reply(self, status, body):
            data = body.encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "text/xml; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, format, *args):
            pass

    return http.server.ThreadingHTTPServer((host, port), Handler)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--dir", required=True, help="folder for the servers' files")
    parser.add_argument("--version", default="13", help='text of "versao" (default 13)')
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--ftp-port", type=int, default=5510)
    parser.add_argument("--nfe-port", type=int, default=5521)
    parser.add_argument("--web-port", type=int, default=5580)
    parser.add_argument("--updater", help="file offered as exe/Renovador.exe")
    args = parser.parse_args()

    base = os.path.abspath(args.dir)
    ftp_root = os.path.join(base, "ftp")
    nfe_root = os.path.join(base, "nfe")
    os.makedirs(os.path.join(ftp_root, "exe"), exist_ok=True)
    os.makedirs(nfe_root, exist_ok=True)
    updater = os.path.join(ftp_root, "exe", "Renovador.exe")
    if args.updater:
        shutil.copyfile(args.updater, updater)
    else:
        with open(updater, "w", encoding="utf-8") as out:
            out.write(DEFAULT_UPDATER)
    request_log = os.path.join(base, "requests.log")
    ftp_log = os.path.join(base, "ftp.log")
    logging.basicConfig(filename=ftp_log, level=logging.INFO, format="%(asctime)s %(message)s")

    upload = ftp_server(args.host, args.ftp_port, ftp_root, "maker upload stand-in ready.")
    nfe = ftp_server(args.host, args.nfe_port, nfe_root, "maker NF-e stand-in ready.")
    web = web_server(args.host, args.web_port, args.version, request_log)
    threading.Thread(target=web.serve_forever, daemon=True).start()

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)

    print("DOVRA_FTP_HOST=%s" % args.host)
    print("DOVRA_FTP_PORT=%d" % upload.address[1])
    print("DOVRA_NFE_FTP_PORT=%d" % nfe.address[1])
    print("DOVRA_WEB_HOST=%s:%d" % (args.host, web.server_address[1]))
    print("FTP_ROOT=%s" % ftp_root)
    print("NFE_ROOT=%s" % nfe_root)
    print("REQUEST_LOG=%s" % request_log)
    print("FTP_LOG=%s" % ftp_log)
    print("VERSION=%s" % args.version)
    print("READY", flush=True)
    # Both FTP servers share pyftpdlib's one I/O loop; serving one serves both.
    try:
        upload.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        web.shutdown()
        upload.close_all()
        nfe.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
