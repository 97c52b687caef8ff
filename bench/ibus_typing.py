#!/usr/bin/env python3
"""The IBus engine's figures, beside bench/desktop_typing.py's: the real
helper hearing LibriVox recordings from the private audio server, its text
handed to a GTK 3 text view under Xvfb through ibus-daemon
(tests/support/ibus_session.py).

    bench/ibus_typing.py [--runs N] [--binary build/quorvane-dictation]

Each run switches the focused field to the engine, plays one recording
2 s after the helper's "ready" (as a user starts to speak), waits 1 s
after it and then ends the dictation, by Enter or by switching away
(alternately). Rows:

  first preedit after speech starts
          from the moment the audio server plays the recording's first
          loud 20 ms to the field's first preedit; also with the speech
          at "ready", while the helper still loads its model
  Enter to the last character, beyond the helper's stop to final
          from the key press to the final text's last character in the
          field, less the helper's own time from "stop" to "final"
  the helper's first partial to the field's preedit
          the engine's and IBus's own part of the first row
  switching away to the last character
          from `ibus engine xkb:us::eng` to the field's last commit
  committed text = the helper's final text
          runs where the field ended with the final text (plus Enter's
          line feed)

Medians with the range. The helper's messages come through
tests/support/recording_helper.py, which notes when "stop" passed.
"""

import argparse
import array
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from desktop_session import xvfb  # noqa: E402
from ibus_session import (ENGINE, OTHER_ENGINE, HelperRecord, IBusSession,  # noqa: E402
                          TextField, wait_until)
from private_audio_server import PrivateAudioServer, librivox_samples, read_pcm  # noqa: E402

LOUD = 1000  # RMS of a 20 ms window that is speech, not the room
WINDOW_BYTES = 320 * 2


def speech_onset_bytes(pcm):
    """Where the first loud window of 16-bit samples starts, in bytes."""
    for start in range(0, len(pcm) - WINDOW_BYTES, WINDOW_BYTES):
        samples = array.array("h", pcm[start:start + WINDOW_BYTES])
        if (sum(sample * sample for sample in samples) / len(samples)) ** 0.5 > LOUD:
            return start
    return 0


def time_of_byte(written, offset):
    """When the audio server had written `offset` bytes of the recording."""
    for moment, count in written:
        if count > offset:
            return moment
    return written[-1][0]


def switch(session, name):
    session.ibus("engine", name, check=False)
    wait_until(lambda: session.current_engine() == name, f"the engine {name}")


def one_run(display, folder, binary, server, pcm, by_enter, lead_in):
    folder.mkdir()
    record = HelperRecord(folder, binary)
    session = IBusSession(display, folder, binary, {**server.env, **record.env})
    field = None
    try:
        field = TextField(session, folder)
        switch(session, ENGINE)
        session.wait_for_log("helper: ready")
        time.sleep(lead_in)
        played = server.play(pcm, wait=True)
        spoken = time_of_byte(played.written, speech_onset_bytes(pcm))
        time.sleep(1)
        if by_enter:
            start = time.monotonic()
            subprocess.run(["xdotool", "key", "Return"], env=session.env, check=True)
            wait_until(record.final, "the final text")
            final_at, final = record.final()
            field.wait_for(lambda f: f.text() == final + "\n", "the final text")
            committed = next(e["t"] for e in field.events() if e.get("text") == final)
            ended = committed - start - (final_at - record.stopped())
            equal = field.text() == final + "\n"
        else:
            shown = field.text() + field.preedit()
            start = time.monotonic()
            switch(session, OTHER_ENGINE)
            field.wait_for(lambda f: f.preedit() == "" and f.text() == shown, "the commit")
            ended = [e["t"] for e in field.events() if "text" in e][-1] - start
            wait_until(record.final, "the final text")
            equal = field.text() == record.final()[1]
        first = next(e["t"] for e in field.events() if e.get("preedit") or e.get("text"))
        helper_first = next(t for t, message in record.messages("partial") if message["text"])
        return first - spoken, ended, equal, first - helper_first
    finally:
        if field:
            field.close()
        session.close()


def spread(values):
    return (f"{statistics.median(values) * 1000:.0f} ms "
            f"({min(values) * 1000:.0f}–{max(values) * 1000:.0f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=6)
    parser.add_argument("--binary", default=str(ROOT / "build" / "quorvane-dictation"))
    options = parser.parse_args()
    samples = librivox_samples()
    results = {True: [], False: []}
    at_ready = []
    with xvfb() as display, PrivateAudioServer() as server, \
            tempfile.TemporaryDirectory(prefix="quorvane-bench-") as work:
        for n in range(options.runs):
            wav, _ = samples[n % len(samples)]
            by_enter = n % 2 == 0
            results[by_enter].append(one_run(display, Path(work) / f"run-{n}", options.binary,
                                             server, read_pcm(wav), by_enter, 2.0))
            at_ready.append(one_run(display, Path(work) / f"ready-{n}", options.binary,
                                    server, read_pcm(wav), by_enter, 0.0))
    everything = results[True] + results[False]
    print("| measurement | median (min–max) | runs | target | met |")
    print("|---|---|---|---|---|")
    for label, runs in (("first preedit after speech starts", everything),
                        ("the same, speech at \"ready\"", at_ready)):
        firsts = [run[0] for run in runs]
        print(f"| {label} | {spread(firsts)} | {len(firsts)} "
              f"| < 1 s | {'yes' if statistics.median(firsts) < 1 else 'no'} |")
    engine = [run[3] for run in everything + at_ready]
    print(f"| the helper's first partial to the field's preedit | {spread(engine)} "
          f"| {len(engine)} | | |")
    for label, by_enter in (("Enter to the last character, beyond the helper's stop to final",
                             True), ("switching away to the last character", False)):
        ended = [run[1] for run in results[by_enter]]
        if ended:
            print(f"| {label} | {spread(ended)} | {len(ended)} | < 300 ms "
                  f"| {'yes' if statistics.median(ended) < 0.3 else 'no'} |")
    for label, by_enter in (("committed text = final text, by Enter", True),
                            ("committed text = final text, switching away", False)):
        equal = [run[2] for run in results[by_enter]]
        if equal:
            print(f"| {label} | {sum(equal)} of {len(equal)} | {len(equal)} | every run "
                  f"| {'yes' if all(equal) else 'no'} |")


if __name__ == "__main__":
    main()
