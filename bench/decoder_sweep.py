#!/usr/bin/env python3
"""Chooses PocketSphinx settings by measurement, on the development set.

Speaks the development sentences (bench/text/dev.tsv) in voices and speeds
that the test set does not use, decodes them offline with
bench/decoder_quality.cc (SphinxDecoder and the formatter, as the product
runs them, each file a fresh session) and scores them as
text_quality.py does. Coordinate descent: each setting in turn takes the
value with the lowest word error, ties to the cheaper one, as long as the
decoding CPU stays within the budget; rounds repeat until nothing changes.

    cmake --build build --target quorvane_decoder_quality
    python3 bench/decoder_sweep.py                 # the whole sweep
    python3 bench/decoder_sweep.py --try -bestpathlw 15 -lw 8
    python3 bench/decoder_sweep.py --files test    # test set, to report only
    python3 bench/decoder_sweep.py --closing-pause 0,100,200   # "stop" at the last word

The settings given with --try are measured once next to the starting point
(the decoder's own settings). Results are kept in /tmp/quorvane-sweep.json,
so a sweep cut short resumes where it was.
"""

import argparse
import json
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import text_quality as tq  # noqa: E402
import text_metrics as tm  # noqa: E402

TOOL = HERE.parent / "build" / "bench" / "quorvane_decoder_quality"
CACHE = Path("/tmp/quorvane-sweep.json")
AUDIO = Path("/tmp/quorvane-text-audio")

# Development voices: other voices, or the same at other speeds, than the
# test set's (slt, awb, klatt and rms at their usual speeds).
DEV_VOICES = {
    "kal16": ("flite", "kal16", 0.95),
    "slt-fast": ("flite", "slt", 0.85),
    "klatt4": ("espeak-ng", "en-us+klatt4", 175),
    "awb-slow": ("flite", "awb", 1.15),
}
TEST_VOICES = ["slt", "awb", "klatt", "rms"]

# The values tried for each setting; PocketSphinx's default among them.
GRID = {
    "-bestpathlw": ["9.5", "12", "15", "20"],
    "-lw": ["6.5", "8"],
    # The cepstral mean a session starts from: the acoustic model's, or
    # with a louder first coefficient (dev speech settles at 48 to 60).
    "-featparams": ["", "/tmp/quorvane-feat-c0-55.params"],
    "-fwdflatlw": ["8.5", "10"],
    "-wip": ["0.3", "0.65"],
    "-topn": ["2", "4"],
    "-vad_threshold": ["2.0", "3.0"],
    "-vad_postspeech": ["30", "50"],
    "-pip": ["0.5", "1.0", "2.0"],
    "-beam": ["1e-40", "1e-48", "1e-60"],
    "-vad_prespeech": ["10", "20", "30"],
    "-maxhmmpf": ["10000", "30000"],
    "-fwdflat": ["yes", "no"],
    "-wbeam": ["7e-25", "7e-29", "7e-35"],
    "-pbeam": ["1e-40", "1e-48", "1e-56"],
    "-fwdflatbeam": ["1e-56", "1e-64", "1e-72"],
    "-maxwpf": ["10", "20", "-1"],
    "-silprob": ["0.001", "0.005", "0.05"],
    "-bestpath": ["yes", "no"],
}
DEFAULTS = {"-featparams": "", "-lw": "6.5", "-fwdflatlw": "8.5", "-bestpathlw": "9.5", "-wip": "0.65",
            "-pip": "1.0", "-silprob": "0.005", "-beam": "1e-48", "-wbeam": "7e-29",
            "-pbeam": "1e-48", "-fwdflatbeam": "1e-64", "-topn": "4", "-maxhmmpf": "30000",
            "-maxwpf": "-1", "-fwdflat": "yes", "-bestpath": "yes", "-vad_threshold": "2.0",
            "-vad_prespeech": "20", "-vad_postspeech": "50"}
# Decoding CPU at most this many times the starting point's: the budget is
# 1.3 times the bare recognizer's for the whole process, which loads the
# model and captures audio besides.
CPU_BUDGET = 1.25


def write_feature_params(c0):
    """The acoustic model's feat.params with the first coefficient of the
    initial cepstral mean set to c0; its path."""
    model = harness.MODEL / "en-us" / "feat.params"
    lines = [f"-cmninit {c0:.2f}," + line.split(",", 1)[1] if line.startswith("-cmninit") else line
             for line in model.read_text().splitlines()]
    path = Path(f"/tmp/quorvane-feat-c0-{c0:g}.params")
    path.write_text("\n".join(lines) + "\n")
    return path


def dev_files(set_name, every):
    tq.VOICES.update(DEV_VOICES)
    voices = list(DEV_VOICES) if set_name == "dev" else TEST_VOICES
    speaker = tq.Voices(AUDIO)
    items = tq.load_set(set_name)[::every]
    files = [(speaker.speak(v, item), item, v) for item in items for v in voices]
    files += [(item.wav, item, "librivox") for item in tq.load_set("librivox")
              if set_name != "dev"]
    return files


def with_noise_floor(files, volume):
    """Copies of the files with white noise under them (sox synth at this
    amplitude; 0.002 leaves the pauses at about -59 dBFS, near the LibriVox
    recordings' -58): a microphone's pauses instead of digital silence."""
    folder = AUDIO / f"floor-{volume:g}"
    folder.mkdir(parents=True, exist_ok=True)
    noisy = []
    for path, item, voice in files:
        out = folder / Path(path).name
        if not out.exists():
            subprocess.run(["sox", "-m", "-v", "1", str(path), "-v", "1",
                            f"|sox {path} -p synth whitenoise vol {volume:g}", str(out)],
                           check=True, stderr=subprocess.DEVNULL)
        noisy.append((out, item, voice))
    return noisy


def measure(settings, files, jobs, cache):
    """WER, FER and decoding CPU per audio second with these settings."""
    key = json.dumps([TOOL.stat().st_mtime_ns, sorted(settings.items()),
                      [str(f) for f, _, _ in files]])
    if key in cache:
        return cache[key]
    args = [str(TOOL), "-jobs", str(jobs)]
    for name, value in settings.items():
        args += [name, value]
    out = subprocess.run(args, input="\n".join(str(f) for f, _, _ in files), text=True,
                         capture_output=True, check=True).stdout.splitlines()
    counts, librivox, cpu, audio = {}, {}, 0.0, 0.0
    rows = [line.split("\t") for line in out if not line.startswith("#")]
    for (path, item, voice), (_, cpu_s, audio_s, text) in zip(files, rows):
        c = tq.score(item, text.replace("\\n", "\n"))
        tq.add_counts(librivox if voice == "librivox" else counts, c)
        cpu += float(cpu_s)
        audio += float(audio_s)
    result = {"wer": counts["word_errors"] / counts["words"],
              "fer": counts["format_errors"] / counts["tokens"],
              "errors": counts["word_errors"], "words": counts["words"],
              "cpu": cpu / audio}
    if librivox:
        result["librivox_wer"] = librivox["word_errors"] / librivox["words"]
    cache[key] = result
    CACHE.write_text(json.dumps(cache))
    return result


def words_of(text):
    return [w for w in (w.strip(".,?!:;") for w in text.lower().split()) if w]


def closing_pauses(lengths_ms, files, jobs):
    """Audio cut as the last word ends, as when "stop" is said then, next
    to the full decode of the same file: for each length of the pause the
    decoder hears before it finishes, the words unlike the full decode's
    (edit distance), the word errors added, and the CPU per file of both
    decodes. LibriVox recordings are counted apart."""
    print("| closing pause | files | words unlike the full decode | word errors added |"
          " CPU s per file |\n|---|---|---|---|---|")
    for ms in lengths_ms:
        args = [str(TOOL), "-jobs", str(jobs), "-at-last-word", "-closing-pause-ms", str(ms)]
        out = subprocess.run(args, input="\n".join(str(f) for f, _, _ in files), text=True,
                             capture_output=True, check=True).stdout.splitlines()
        rows = [line.split("\t") for line in out if not line.startswith("#")]
        groups = {}
        for (_, item, voice), (_, cpu_s, _, cut, full) in zip(files, rows):
            g = groups.setdefault("LibriVox" if voice == "librivox" else "synthetic",
                                  {"unlike": 0, "added": 0, "words": 0, "cpu": 0.0, "files": 0})
            g["unlike"] += tm.distance(words_of(full), words_of(cut))
            g["words"] += len(words_of(full))
            g["added"] += (tq.score(item, cut.replace("\\n", "\n"))["word_errors"]
                           - tq.score(item, full.replace("\\n", "\n"))["word_errors"])
            g["cpu"] += float(cpu_s)
            g["files"] += 1
        for name, g in groups.items():
            print(f"| {ms} ms | {name}: {g['files']} | {g['unlike']} of {g['words']} | {g['added']} |"
                  f" {g['cpu'] / g['files']:.3f} |", flush=True)


def row(label, r, base):
    extra = f" | LibriVox {r['librivox_wer']:.3f}" if "librivox_wer" in r else ""
    return (f"| {label} | {r['wer']:.3f} ({r['errors']}/{r['words']}) | {r['fer']:.3f} | "
            f"{r['cpu']:.3f} | {r['cpu'] / base['cpu']:.2f}×{extra} |")


def sweep(files, jobs, cache, names, rounds):
    current = {}
    base = measure(current, files, jobs, cache)
    print("| setting | WER | FER | CPU s / audio s | CPU vs start |\n|---|---|---|---|---|")
    print(row("start (the decoder's settings)", base, base), flush=True)
    best = base
    for round_ in range(rounds):
        changed = False
        for name in names:
            results = {}
            for value in GRID[name]:
                trial = dict(current)
                if value == DEFAULTS.get(name):
                    trial.pop(name, None)
                else:
                    trial[name] = value
                r = measure(trial, files, jobs, cache)
                results[value] = r
                print(row(f"{name} {value}" + (" (default)" if value == DEFAULTS.get(name) else ""),
                          r, base), flush=True)
            within = {v: r for v, r in results.items() if r["cpu"] <= CPU_BUDGET * base["cpu"]}
            value = min(within, key=lambda v: (within[v]["errors"], within[v]["cpu"]))
            chosen = current.get(name, DEFAULTS.get(name))
            if within[value]["errors"] < results[chosen]["errors"]:
                if value == DEFAULTS.get(name):
                    current.pop(name, None)
                else:
                    current[name] = value
                best = within[value]
                changed = True
                print(f"| **{name} {value}** | chosen | | | |", flush=True)
        if not changed:
            break
    print("\nChosen:", " ".join(f"{k} {v}" for k, v in current.items()))
    print(row("chosen", best, base))
    return current


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--files", default="dev", choices=["dev", "test"])
    parser.add_argument("--every", type=int, default=2, help="every n-th sentence (default 2)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=2, help="rounds at most (default 2)")
    parser.add_argument("--settings", help="comma-separated settings to sweep, in order")
    parser.add_argument("--closing-pause", help="comma-separated lengths in ms: measure a"
                        " \"stop\" as the last word ends with each")
    parser.add_argument("--noise-floor", type=float,
                        help="white noise of this amplitude under every file (0.002: -59 dBFS)")
    parser.add_argument("--try", dest="trial", nargs=argparse.REMAINDER,
                        help="measure these settings (-name value ...) next to the start")
    options = parser.parse_args()
    cache = json.loads(CACHE.read_text()) if CACHE.exists() else {}
    write_feature_params(55)
    files = dev_files(options.files, options.every)
    if options.noise_floor:
        files = with_noise_floor(files, options.noise_floor)
    started = time.time()
    audio = sum(harness.read_pcm(f).__len__() for f, _, _ in files) / tq.FRAME_BYTES / tq.RATE
    print(f"{options.files} set: {len(files)} files, {audio:.0f} s of audio")
    if options.closing_pause:
        closing_pauses([int(x) for x in options.closing_pause.split(",")], files, options.jobs)
    elif options.trial is not None:
        base = measure({}, files, options.jobs, cache)
        trial = dict(zip(options.trial[::2], options.trial[1::2]))
        print("| setting | WER | FER | CPU s / audio s | CPU vs start |\n|---|---|---|---|---|")
        print(row("start", base, base))
        print(row(" ".join(options.trial), measure(trial, files, options.jobs, cache), base))
    else:
        names = options.settings.split(",") if options.settings else list(GRID)
        sweep(files, options.jobs, cache, names, options.rounds)
    print(f"\n{time.time() - started:.0f} s")


if __name__ == "__main__":
    tm.self_test()
    main()
