#!/usr/bin/env python3
"""From `quorvane-dictate end` to the last character in the window, for a
text of about 200 characters, typed with xdotool into an xterm under a
private Xvfb (tests/support/desktop_session.py).

    bench/desktop_typing.py [--runs N] [--binary build/quorvane-dictation]

Rows:

  stand-in, as it comes   a stand-in helper's partials grow a 200-character
                          text word by word; `end` after the last, then
                          the final text (with its closing mark) is typed
  stand-in, at the end    the same with --at-end: all 200 characters are
                          typed after `end`
  real speech, as it comes
                          quorvane-dictation hearing three LibriVox
                          recordings in a row from the private audio
                          server's microphone (about 220 characters of
                          transcript); `end` 0.5 s after the speech

Each figure is the median over the runs with the range; the clock starts
as `end` is spawned and stops when the window's text equals the final
text that `end --print` reports. Every run checks that they agree.
"""

import argparse
import json
import statistics
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))

from desktop_session import Dictate, Receiver, stop_process, xvfb  # noqa: E402
from private_audio_server import PrivateAudioServer, librivox_samples, read_pcm  # noqa: E402

FAKE_HELPER = ROOT / "tests" / "clients" / "desktop" / "fake_helper.py"
TEXT = ("The quick brown fox jumps over the lazy dog while the five boxing wizards "
        "jump quickly, and a small tired robot writes down every word that it hears "
        "into the window that has the focus of the keyboard today")
GAP = bytes(int(16000 * 0.3) * 2)  # between two recordings: no sentence end


def until_typed(receiver, final, start, limit=30):
    """Seconds from `start` until the window shows `final`."""
    deadline = start + limit
    while receiver.text() != final:
        if time.monotonic() > deadline:
            raise RuntimeError(f"typed {receiver.text()!r}, final {final!r}")
        time.sleep(0.002)
    return time.monotonic() - start


def one_run(display, folder, how, binary, audio):
    folder.mkdir()
    receiver = Receiver(display, folder)
    try:
        if how == "real":
            run = Dictate(folder, {"DISPLAY": display},
                          {**audio[0].env, "QUORVANE_DICTATION_EXECUTABLE": binary})
            run("begin", "en-US")
            run.wait_until("listening")
            audio[0].play(audio[1])
            time.sleep(0.5)
        else:
            words = TEXT.split()
            script = folder / "script.json"
            script.write_text(json.dumps({
                "partials": [" ".join(words[:n]) for n in range(1, len(words) + 1)],
                "final": TEXT + ".", "interval": 0.03}))
            run = Dictate(folder, {"DISPLAY": display}, {
                "FAKE_DICTATION_SCRIPT": str(script),
                "QUORVANE_DICTATION_EXECUTABLE": str(FAKE_HELPER)})
            run("begin", *(["--at-end"] if how == "at-end" else []))
            time.sleep(0.03 * len(words) + 0.5)
        try:
            start = time.monotonic()
            ended = run("end", "--print")
            returned = time.monotonic() - start
            final = ended.stdout.removesuffix("\n")
            if ended.returncode != 0 or not final:
                raise RuntimeError(f"end: {ended.returncode} {ended.stderr}")
            typed = until_typed(receiver, final, start)
        finally:
            run.close()
        return typed, returned, len(final)
    finally:
        stop_process(receiver.process)


def spread(values, unit=1000, suffix=" ms"):
    return (f"{statistics.median(values) * unit:.0f}{suffix} "
            f"({min(values) * unit:.0f}–{max(values) * unit:.0f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--binary", default=str(ROOT / "build" / "quorvane-dictation"))
    options = parser.parse_args()
    rows = [("stand-in, as it comes", "as-it-comes"), ("stand-in, at the end", "at-end"),
            ("real speech, as it comes", "real")]
    print("| measurement | `end` to the last character: median (min–max) | `end` returned "
          "| characters | target | met |")
    print("|---|---|---|---|---|---|")
    with xvfb() as display, PrivateAudioServer() as server, \
            tempfile.TemporaryDirectory(prefix="quorvane-bench-") as work:
        speech = b"".join(read_pcm(wav) + GAP for wav, _ in librivox_samples()[:3])
        for label, how in rows:
            results = [one_run(display, Path(work) / f"{how}-{n}", how, options.binary,
                               (server, speech)) for n in range(options.runs)]
            typed, returned, lengths = zip(*results)
            print(f"| {label} | {spread(typed)} | {spread(returned)} "
                  f"| {min(lengths)}–{max(lengths)} | < 1 s "
                  f"| {'yes' if max(typed) < 1 else 'no'} |", flush=True)


if __name__ == "__main__":
    main()
