#!/usr/bin/env python3
"""Speech as real microphones deliver it: quiet, loud and clipped, with a DC
offset, over noise (white, pink, other people talking) and in an echoing
room. Every condition is made by sox from the clean recording, the same way
each time (sox -R, fixed babble text), and kept in a cache keyed by the
clean audio and the condition's recipe.

    python3 bench/mic_conditions.py OUT_DIR WAV...   # writes OUT_DIR/<condition>/<wav>

The benchmark's `conditions` section plays these files through the private
audio server (bench.py); bench/preprocessor_quality.cc decodes them offline
for choosing the preprocessing.
"""

import array
import hashlib
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

RATE = 16000

# name: (what it is, kind, parameter). Levels are dBFS, SNRs dB against the
# speech's active level (the loud 20 ms frames, see active_rms).
CONDITIONS = {
    "clean": ("the recording as it is", "sox", []),
    "quiet": ("peak at -35 dBFS", "sox", ["gain", "-n", "-35"]),
    "loud": ("peak at 0 dBFS, then 12 dB more: clipped", "sox", ["gain", "-n", "0", "gain", "12"]),
    "dc": ("a DC offset of 0.1 (-20 dBFS)", "sox", ["dcshift", "0.1"]),
    "white20": ("white noise, 20 dB SNR", "noise", ("whitenoise", 20)),
    "white10": ("white noise, 10 dB SNR", "noise", ("whitenoise", 10)),
    "pink20": ("pink noise, 20 dB SNR", "noise", ("pinknoise", 20)),
    "pink10": ("pink noise, 10 dB SNR", "noise", ("pinknoise", 10)),
    "babble20": ("four other voices talking, 20 dB SNR", "noise", ("babble", 20)),
    "babble10": ("four other voices talking, 10 dB SNR", "noise", ("babble", 10)),
    "echo": ("a reverberant room (sox reverb 60, 20 ms pre-delay)", "sox",
             ["reverb", "60", "50", "100", "100", "20"]),
}

# The talkers behind the speaker: espeak-ng voices reading other text.
BABBLE = (
    ("en-us+m3", 165, "the meeting moved to thursday afternoon because the "
     "projector in the small room is broken again and nobody has called anyone"),
    ("en-gb+f2", 150, "she bought a loaf of bread two apples and a newspaper on "
     "her way home from the station where the trains were late as usual"),
    ("en-us+f4", 175, "if the weather holds we could walk along the river to "
     "the old mill and have lunch in the garden before it gets too crowded"),
    ("en+m1", 140, "the committee will publish its findings next spring after "
     "reviewing every application that arrived before the end of the year"),
)


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def samples_of(path):
    """The 16-bit samples of a 16 kHz mono WAV file."""
    import wave
    with wave.open(str(path), "rb") as wav:
        data = array.array("h", wav.readframes(wav.getnframes()))
    if sys.byteorder == "big":
        data.byteswap()
    return data


def active_rms(samples, frame=RATE // 50, floor_db=-40.0):
    """RMS over the 20 ms frames within 40 dB of the loudest: the level of
    the speech itself, not of the pauses around it."""
    energies = [sum(x * x for x in samples[i:i + frame]) / frame
                for i in range(0, len(samples) - frame + 1, frame)]
    if not energies:
        return 0.0
    loudest = max(energies)
    kept = [e for e in energies if e > 0 and 10 * math.log10(e / loudest) > floor_db]
    return math.sqrt(sum(kept) / len(kept)) if kept else 0.0


def babble(path, seconds, work):
    """Four talkers mixed, each looped to `seconds`."""
    talkers = []
    for i, (voice, speed, text) in enumerate(BABBLE):
        raw = work / f"talker{i}-raw.wav"
        run("espeak-ng", "-v", voice, "-s", str(speed), "-w", str(raw), text)
        one = work / f"talker{i}.wav"
        # Each starts at a different place in its loop.
        run("sox", "-V1", "-R", str(raw), "-r", str(RATE), "-c", "1", "-b", "16", str(one),
            "repeat", str(math.ceil(seconds / 2) + 1), "trim", str(0.7 * i), str(seconds),
            "gain", "-n", "-6")
        talkers.append(str(one))
    run("sox", "-V1", "-R", "-m", *talkers, str(path), "gain", "-n", "-6")


def noise(path, kind, seconds, work):
    if kind == "babble":
        babble(path, seconds, work)
    else:
        run("sox", "-V1", "-R", "-n", "-r", str(RATE), "-c", "1", "-b", "16", str(path),
            "synth", f"{seconds:.3f}", kind, "gain", "-n", "-6")


def make(name, clean, out):
    """Writes the condition `name` of the 16 kHz mono file `clean` to `out`."""
    _, kind, parameter = CONDITIONS[name]
    out.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=out.parent) as work:
        work = Path(work)
        made = work / "out.wav"
        if kind == "sox":
            run("sox", "-V1", "-R", str(clean), "-b", "16", str(made), *parameter)
        else:
            source, snr = parameter
            seconds = len(samples_of(clean)) / RATE
            background = work / "noise.wav"
            noise(background, source, seconds, work)
            speech_level = active_rms(samples_of(clean))
            noise_samples = samples_of(background)
            noise_level = math.sqrt(sum(x * x for x in noise_samples) / len(noise_samples))
            scale = speech_level / noise_level / 10 ** (snr / 20)
            run("sox", "-V1", "-R", "-m", "-v", "1", str(clean), "-v", f"{scale:.6f}",
                str(background), "-b", "16", str(made))
        os.replace(made, out)


def recipe_key(name, clean):
    key = hashlib.sha1(repr((CONDITIONS[name], BABBLE if "babble" in name else None,
                             2)).encode())
    key.update(Path(clean).read_bytes())
    return key.hexdigest()[:16]


def condition_file(name, clean, cache):
    """The cached file of `clean` in condition `name`, made when missing."""
    clean = Path(clean)
    out = Path(cache) / name / f"{clean.stem}-{recipe_key(name, clean)}.wav"
    if not out.exists():
        make(name, clean, out)
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    for wav in sys.argv[2:]:
        for name in CONDITIONS:
            print(condition_file(name, wav, out))


if __name__ == "__main__":
    main()
