#!/usr/bin/env python3
"""A scripted walk through the wizard: plays the person on vxt-upgrade-scripted and prints
what the screens show, so the wizard can be seen working on a machine without a display."""
import argparse
import json
import queue
import subprocess
import sys
import threading
import time


class Wizard:
    def __init__(self, program):
        self.p = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  text=True, bufsize=1)
        # Lines are read on a thread of their own: a select() on the buffered pipe would miss
        # a second line that came in the same read as the first.
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line)
        self.lines.put(None)  # the wizard's output ended

    def send(self, action):
        print("  person>", json.dumps(action))
        self.p.stdin.write(json.dumps(action) + "\n")
        self.p.stdin.flush()

    def until(self, event, **fields):
        while True:
            try:
                line = self.lines.get(timeout=30)
            except queue.Empty:
                sys.exit("demo: the wizard went silent waiting for " + event)
            if line is None:
                sys.exit("demo: the wizard ended early")
            e = json.loads(line)
            show(e)
            if e["event"] == event and all(e.get(k) == v for k, v in fields.items()):
                return e


def show(e):
    kind = e["event"]
    if kind == "open":
        print(f"\n[window {e['window']}] dialog {e['dialog']}: \"{e['caption']}\"")
        for c in e["controls"]:
            text = c["text"].replace("\r\n", "\n" + " " * 12)
            if c["kind"] == "drop_down_list":
                text = f"{c['items']} selected {c['selected']}"
            if text:
                print(f"    {c['id']:>5}  {text}")
    elif kind == "message":
        print(f"\n[message {e['window']}] \"{e['title']}\": {e['text']}")
    elif kind == "caption" and " Bytes" in e["text"]:
        # One caption per acknowledged block: show the first ones and every 256th.
        done = int(e["text"].split()[-2].split("/")[0])
        if done // 512 < 3 or (done // 512) % 256 == 0 or e["text"].endswith(
                f"{done}/{done} Bytes"):
            print("  wizard>", json.dumps(e))
    elif kind in ("destroy", "exit", "caption", "text", "error"):
        print("  wizard>", json.dumps(e))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("program", help="path of vxt-upgrade-scripted")
    parser.add_argument("--device", default="127.0.0.2", help="the device's address to type")
    parser.add_argument("--pc", default="127.0.0.1", help="the PC's address")
    parser.add_argument("--password", default="admin", help="the device's password")
    parser.add_argument("--restart-wait", type=float, default=6.0,
                        help="seconds to let the device restart before the clock jumps")
    args = parser.parse_args()
    w = Wizard(args.program)
    w.send({"action": "start", "addresses": [args.pc], "screen": {"w": 1024, "h": 768}})
    welcome = w.until("open", dialog=141)
    w.send({"action": "key", "window": welcome["window"], "key": "escape"})
    w.send({"action": "press", "window": welcome["window"], "control": 1028})
    w.until("open", dialog=139)
    w.send({"action": "press", "dialog": 139, "control": 1})
    address = w.until("open", dialog=101)
    w.send({"action": "type", "window": address["window"], "control": 1000, "text": "10.1.0.300"})
    w.send({"action": "press", "window": address["window"], "control": 1})
    message = w.until("message")
    w.send({"action": "dismiss", "window": message["window"]})
    w.send({"action": "type", "window": address["window"], "control": 1000, "text": args.device})
    w.send({"action": "press", "window": address["window"], "control": 1})
    password = w.until("open", dialog=104)
    w.send({"action": "type", "window": password["window"], "control": 1005,
            "text": args.password})
    w.send({"action": "press", "window": password["window"], "control": 1})
    confirm = w.until("open", dialog=103)
    w.send({"action": "press", "window": confirm["window"], "control": 1})
    w.until("open", dialog=114)
    w.until("open", dialog=110)
    w.until("caption", text="Updating Firmware to VXT@" + args.device)
    # The device restarts meanwhile; let it come back, then skip the rest of the ~50 s wait.
    time.sleep(args.restart_wait)
    w.send({"action": "advance_clock", "ms": 50000})
    success = w.until("open", dialog=111)
    w.send({"action": "press", "window": success["window"], "control": 1})
    w.until("exit")
    status = w.p.wait(timeout=30)
    print(f"\nthe wizard ended with status {status}")
    return status


if __name__ == "__main__":
    sys.exit(main())
