#!/usr/bin/python3
"""Runs $QUORVANE_RECORDED_BINARY with this program's arguments in its
place, passing its standard input and output through line by line, and
appends each line to $QUORVANE_HELPER_RECORD as JSON with the time it
passed: {"t": time.monotonic(), "in": "stop"} or {"t": ..., "out": {...}}.
So a test sees the helper's own messages (its final text) and when its
host wrote "stop"."""

import json
import os
import subprocess
import sys
import threading
import time


def main():
    record = open(os.environ["QUORVANE_HELPER_RECORD"], "a", buffering=1, encoding="utf-8")
    lock = threading.Lock()

    def note(**fields):
        with lock:
            record.write(json.dumps({"t": time.monotonic(), **fields}, ensure_ascii=False) + "\n")

    child = subprocess.Popen([os.environ["QUORVANE_RECORDED_BINARY"], *sys.argv[1:]],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def forward_input():
        for line in sys.stdin.buffer:
            note(**{"in": line.decode(errors="replace").strip()})
            try:
                child.stdin.write(line)
                child.stdin.flush()
            except OSError:
                break
        try:
            child.stdin.close()
        except OSError:
            pass

    threading.Thread(target=forward_input, daemon=True).start()
    for line in child.stdout:
        sys.stdout.buffer.write(line)
        sys.stdout.buffer.flush()
        note(out=json.loads(line))
    return child.wait()


if __name__ == "__main__":
    sys.exit(main())
