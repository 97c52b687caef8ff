#!/usr/bin/python3
"""A stand-in quorvane-dictation: `listen` says ready, writes the partials of
the JSON file $FAKE_DICTATION_SCRIPT ({"partials": [...], "final": "...",
"interval": seconds}) and, on "stop", the final text; "cancel" or the end of
input cancels."""

import json
import os
import sys
import threading
import time


def say(message):
    sys.stdout.write(json.dumps(message, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def main():
    with open(os.environ["FAKE_DICTATION_SCRIPT"], encoding="utf-8") as stream:
        script = json.load(stream)
    say({"type": "ready", "engine": "recognizer"})
    stopped = threading.Event()

    def speak():
        for text in script["partials"]:
            if stopped.wait(script.get("interval", 0.05)):
                return
            say({"type": "partial", "text": text})

    speaker = threading.Thread(target=speak, daemon=True)
    speaker.start()
    for line in sys.stdin:
        if line.strip() in ("stop", "cancel"):
            stopped.set()
            speaker.join()
            if line.strip() == "stop":
                time.sleep(script.get("finishing", 0))
                say({"type": "final", "text": script["final"]})
                say({"type": "done"})
                return
            break
    stopped.set()
    speaker.join()
    say({"type": "cancelled"})


if __name__ == "__main__":
    main()
