#!/usr/bin/python3
"""Drives build/backupdovra --headless (or backupdovra.exe under Wine) through a scripted
session and prints its events in a readable form.
Usage: demo_driver.py PROGRAM [ARGUMENT...] STEPS_JSON
PROGRAM [ARGUMENT...] is the command that starts it ("wine64 backupdovra.exe"); --headless
is added.

STEPS_JSON is a list of steps (or the name of a file holding one); each step is one of
  {"say": "text"}                      print a heading
  {"send": "HandlerName"}              send one input line
  {"pause": seconds}                   let the program run for a while, printing its events
  {"wait": ["fragment", ...], "timeout": seconds, "optional": bool}
                                       wait for an event line holding every fragment
The program's environment comes from this process's environment.
"""
import json
import os
import queue
import subprocess
import sys
import threading
import time

COLORS = sys.stdout.isatty()


def dim(text):
    return f"\033[2m{text}\033[0m" if COLORS else text


def bold(text):
    return f"\033[1m{text}\033[0m" if COLORS else text


def show(text):
    return text.replace("\r", " ⏎ ")


class Printer:
    """Prints events; long runs of memo lines are shortened."""

    def __init__(self):
        self.memo_run = 0
        self.hidden = 0

    def flush_memo(self):
        if self.hidden:
            print(dim(f"      | ... {self.hidden} more log lines"))
        self.memo_run = 0
        self.hidden = 0

    def event(self, ev):
        kind = ev.get("event")
        if kind == "memo":
            self.memo_run += 1
            if self.memo_run <= 4 or ev["line"].startswith(("erro", "Erro", "ERRO", "Copia", "Arquivo", "FTP", "Conectou", "Tenta", "Muda", "pegou", "Verificado")):
                print(dim(f"      | {ev['name']}: {show(ev['line'])}"))
            else:
                self.hidden += 1
            return
        self.flush_memo()
        if kind == "balloon":
            print(f"  [balloon] {bold(show(ev['title']))}: {show(ev['text'])}")
        elif kind == "hint":
            print(f"  [tray hint] {show(ev['text'])}")
        elif kind == "message":
            print(f"  [message box] {bold(show(ev['caption']))}: {show(ev['text'])} -> {ev['answer']}")
        elif kind == "label":
            print(f"  [{ev['name']}] {show(ev['text'])} ({ev['color']})")
        elif kind == "caption":
            print(f"  [window caption] {show(ev['text'])}")
        elif kind == "menu":
            print(f"  [menu] {ev['item']} visible={ev['visible']}")
        elif kind == "dialog":
            print(f"  [dialog] {ev['kind']} '{ev['title']}' -> {ev['answer']}")
        elif kind == "backup":
            if ev["state"] == "started":
                print(bold(f"  [backup] {ev['kind']} started"))
            elif ev["state"] == "done":
                print(bold(f"  [backup] {ev['kind']} done: {ev['archive']} ({ev.get('bytes', '?')} bytes)"))
            else:
                print(bold(f"  [backup] {ev['kind']} failed: {show(ev['error'])}")
                      + (f" (log {ev['log']})" if "log" in ev else ""))
        elif kind == "upload":
            if ev["state"] == "done":
                print(bold(f"  [upload] done: {ev['archive']} ({ev['bytes']} bytes) -> {ev['remote']}"))
            else:
                print(bold(f"  [upload] failed: {show(ev['error'])}"))
        elif kind == "verify":
            if ev["state"] == "done":
                print(bold(f"  [verify] {ev['archive']} restores: {ev['tables']} tables, "
                           f"{ev['records']} records, {ev['seconds']} s"))
            else:
                print(bold(f"  [verify] {ev['archive']} failed: {show(ev['error'])}"))
        elif kind == "export":
            print(bold(f"  [export] {ev['documents']} NF-e documents sent"))
        elif kind == "verify":
            if ev["state"] == "done":
                print(bold(f"  [verify] done: {ev['archive']} restored and validated, "
                           f"{ev['tables']} tables, {ev['records']} records, {ev['seconds']} s"))
            else:
                print(bold(f"  [verify] failed: {show(ev['error'])}")
                      + (f" (log {ev['log']})" if "log" in ev else ""))
        elif kind == "exit":
            print(f"  [exit] status {ev['code']}")
        elif kind in ("gauge", "memo_clear", "page", "control", "radio", "edit", "window", "tray"):
            pass  # window details, not interesting here
        else:
            print(dim(f"  [{kind}] {json.dumps(ev, ensure_ascii=False)}"))


def main():
    command, steps = sys.argv[1:-1], sys.argv[-1]
    if os.path.isfile(steps):
        with open(steps, encoding="utf-8") as f:
            steps = f.read()
    steps = json.loads(steps)
    proc = subprocess.Popen(command + ["--headless"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, encoding="utf-8", bufsize=1)
    lines = queue.Queue()

    def reader():
        for line in proc.stdout:
            lines.put(line.rstrip("\r\n"))
        lines.put(None)

    threading.Thread(target=reader, daemon=True).start()
    printer = Printer()
    ended = False
    status = 0
    for step in steps:
        if "say" in step:
            printer.flush_memo()
            print("\n" + bold("== " + step["say"]))
        elif "pause" in step:
            deadline = time.time() + step["pause"]
            while not ended and time.time() < deadline:
                try:
                    line = lines.get(timeout=0.1)
                except queue.Empty:
                    continue
                if line is None:
                    ended = True
                    break
                printer.event(json.loads(line))
        elif "send" in step:
            printer.flush_memo()
            print(dim(f"  > {step['send']}"))
            proc.stdin.write(step["send"] + "\n")
            proc.stdin.flush()
        elif "wait" in step:
            deadline = time.time() + step.get("timeout", 60)
            found = False
            while not found and not ended and time.time() < deadline:
                try:
                    line = lines.get(timeout=0.2)
                except queue.Empty:
                    continue
                if line is None:
                    ended = True
                    break
                try:
                    printer.event(json.loads(line))
                except json.JSONDecodeError:
                    print(dim("  " + line))
                found = all(f in line for f in step["wait"])
            if not found and not step.get("optional"):
                printer.flush_memo()
                print(f"demo: no event with {step['wait']} in time", file=sys.stderr)
                status = 1
                break
    proc.stdin.close()
    try:
        proc.wait(timeout=15)
    except subprocess.TimeoutExpired:
        proc.terminate()
        proc.wait()
    while True:
        try:
            line = lines.get(timeout=0.5)
        except queue.Empty:
            break
        if line is None:
            break
        printer.event(json.loads(line))
    printer.flush_memo()
    return status or (0 if proc.returncode == 0 else proc.returncode)


if __name__ == "__main__":
    sys.exit(main())
