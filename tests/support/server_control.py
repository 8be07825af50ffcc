"""How the tests' Python servers report their port and end: "PORT <n>" on standard output
(or into --port-file, for a parent that cannot read a pipe from the server, as a Windows
test program under Wine cannot), and the end when the parent process goes away or the
--stop-file appears (for a parent that cannot signal it)."""
import os
import sys
import threading
import time


def add_arguments(parser):
    parser.add_argument("--port-file", help="write the PORT line to this file instead")
    parser.add_argument("--stop-file", help="stop once this file exists")


def _watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def _watch_stop_file(path):
    while not os.path.exists(path):
        time.sleep(0.2)
    os._exit(0)


def serving(args, port):
    """Starts the watchers and announces `port`; call once the server listens."""
    threading.Thread(target=_watch_parent, args=(os.getppid(),), daemon=True).start()
    if args.stop_file:
        threading.Thread(target=_watch_stop_file, args=(args.stop_file,), daemon=True).start()
    line = "PORT %d\n" % port
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(line)
        os.rename(args.port_file + ".tmp", args.port_file)
    else:
        sys.stdout.write(line)
        sys.stdout.flush()
